// What a run tells its operator or its calling script. Board threads call in concurrently;
// an implementation serialises its own output, so lines of two boards never interleave.
#pragma once

#include "boardresult.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace qvota::cli {

// What a station slot does between updates.
enum class SlotState { Waiting, Arrived, Gone };

class Reporter
{
public:
    Reporter() = default;
    Reporter(const Reporter &) = delete;
    Reporter &operator=(const Reporter &) = delete;
    virtual ~Reporter() = default;

    virtual void started(const QString &board, const QString &port, const QString &usbSerial) = 0;
    virtual void logged(const QString &board, const QString &line) = 0;
    // Frames acknowledged of all; callers send a few a second at most.
    virtual void progressed(const QString &board, int done, int total) = 0;
    // The update entered stage (identify, erase, transfer, the CRC checks, the warm boot).
    virtual void staged(const QString &board, RunStage stage) = 0;
    virtual void finished(const BoardResult &result) = 0;
    virtual void slotChanged(const QString &board, SlotState state) = 0;
    // Last of all; tally holds every result that finished().
    virtual void summary(const Tally &tally, int exitCode) = 0;
    // The main thread calls this a few times a second; live lines redraw here.
    virtual void refresh() {}
};

struct OutputOptions
{
    bool json = false;
    bool quiet = false;
    QStringList boards; // the labels in the order given, for live lines and the summary
    qint64 imageBytes = 0; // what each board is sent, for the live lines' rate
};

// JSON Lines or human output on stdout, with live lines on stderr when it is a terminal.
std::unique_ptr<Reporter> make_reporter(const OutputOptions &options);

} // namespace qvota::cli
