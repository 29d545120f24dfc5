// What flash and station share: the run prepared before the first board thread starts (the
// image loaded and checked once for all boards, the history opened, the output chosen), a
// thread per board, the main thread's part while they work, and the summary at the end.
#pragma once

#include "boardrun.h"
#include "runoptions.h"

#include <QMutex>
#include <QStringList>
#include <QThread>

#include <functional>
#include <memory>

namespace qvota::cli {

// The results of a run so far, from every board thread.
class ResultTally
{
public:
    void add(Outcome outcome)
    {
        const QMutexLocker lock(&m_mutex);
        m_tally.add(outcome);
    }
    Tally value() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_tally;
    }

private:
    mutable QMutex m_mutex;
    Tally m_tally;
};

struct PreparedRun
{
    RunOptions options;
    std::unique_ptr<HistoryFile> history;
    std::unique_ptr<Reporter> reporter;
    ResultTally tally;
    // Points into the members above: a PreparedRun is never moved once made. A command may put
    // a reporter of its own into plan.reporter (one that passes everything on to reporter).
    UpdatePlan plan;
};

// What a command does with the prepared run: serve runs on each board's own thread until that
// board is done; tick, if any, runs on the main thread a few times a second meanwhile.
struct BoardWork
{
    std::function<void(const BoardSpec &spec)> serve;
    std::function<void()> tick;
    int refusal = 0; // not 0: the command ends with this exit code before any board is served
};

// Parses arguments, prepares the run, lets work serve every board on a thread of its own and
// prints the summary. Returns the exit code: 0 after --help, 2 for a usage error, 3 for a
// refused image (the message printed: help on stdout, errors on stderr), else the tally's.
int run_boards(RunMode mode, const QStringList &arguments,
               const std::function<BoardWork(PreparedRun &run)> &work);

// Prints a usage error on stderr and returns EXIT_USAGE.
int usage_error(const QString &command, const QString &message);

} // namespace qvota::cli
