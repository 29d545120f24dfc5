// One board's update from a board thread: find where it is, run the engine's update, tell the
// reporter and the history how it went.
#pragma once

#include "boardresult.h"
#include "boardspec.h"
#include "history.h"
#include "reporter.h"

#include "updaterun.h"

#include <atomic>

namespace qvota::cli {

class ResultTally;

// Where a board is reached.
struct BoardPlace
{
    LinkSettings link;
    QString port;      // the device, or the board's address and port
    QString usbSerial; // of the serial port, when it has one
};

// Resolves spec against the serial ports listed now; fails for a serial number that names no
// port or several.
Expected<BoardPlace> locate(const BoardSpec &spec, const QList<PortInfo> &ports);

// What every board of a run shares; all of it outlives the board threads.
struct UpdatePlan
{
    RunRequest request; // the image and the flow's settings; each board brings its link
    ImageFacts facts;
    Reporter *reporter = nullptr;
    HistoryFile *history = nullptr; // none: no history
    ResultTally *tally = nullptr;   // counts every result
};

// Runs one update and reports it: start, the flow's lines, progress a few times a second, and
// exactly one result, which it also counts. A place that could not be found fails at the link
// stage without touching a port.
BoardResult update_board(const BoardSpec &spec, const Expected<BoardPlace> &place,
                         const UpdatePlan &plan, const std::atomic_bool *cancel);

} // namespace qvota::cli
