// One board's update from a board thread: find where it is, run the engine's update, tell the
// reporter and the history how it went.
#pragma once

#include "boardresult.h"
#include "boardspec.h"
#include "history.h"
#include "reporter.h"

#include "imagefile.h"
#include "otaflow.h"

#include <atomic>

namespace qvota::cli {

// Where a board is reached.
struct BoardPlace
{
    LinkSettings link;
    QString port;      // the device, or the board's address and port
    QString usbSerial; // of the serial port, when it has one
    QString error;     // why the board cannot be reached (a serial number without one port)
};

// Resolves spec against the serial ports listed now.
BoardPlace locate(const BoardSpec &spec, const QList<PortInfo> &ports);

// What every board of a run shares; all of it outlives the board threads.
struct UpdatePlan
{
    const Image *image = nullptr;
    ImageFacts facts;
    OtaConfig flow;
    Reporter *reporter = nullptr;
    HistoryFile *history = nullptr; // none: no history
};

// Runs one update and reports it: start, the flow's lines, progress a few times a second, and
// exactly one result. A place with an error fails at the link stage without touching a port.
BoardResult update_board(const BoardSpec &spec, const BoardPlace &place, const UpdatePlan &plan,
                         const std::atomic_bool *cancel);

} // namespace qvota::cli
