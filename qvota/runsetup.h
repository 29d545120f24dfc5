// What flash and station do before the first board thread starts, and the main thread's part
// while the boards run.
#pragma once

#include "boardrun.h"
#include "runoptions.h"

#include <QStringList>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

namespace qvota::cli {

// The image loaded and checked once for all boards, the history opened, the output chosen.
struct PreparedRun
{
    Image image;
    std::unique_ptr<HistoryFile> history;
    std::unique_ptr<Reporter> reporter;
    UpdatePlan plan; // points into the members above: a PreparedRun is never moved once made
};

// Parses arguments and prepares the run. When it returns nothing, *exitCode is what the
// process ends with: 0 after --help, 2 for a usage error, 3 for a refused image; the message
// is already printed (help on stdout, errors on stderr).
std::unique_ptr<PreparedRun> prepare_run(RunMode mode, const QStringList &arguments,
                                         RunOptions *options, int *exitCode);

// Prints a usage error on stderr and returns EXIT_USAGE.
int usage_error(const QString &command, const QString &message);

// Starts work on a thread of its own. A QThread rather than a bare system thread: the links'
// sockets want a thread that Qt knows, or they warn on every open.
std::unique_ptr<QThread> start_thread(std::function<void()> work);

// Runs the main thread's part while board threads work: redraws live lines a few times a
// second and calls tick (if any) until running reaches 0.
void supervise(const std::atomic_int &running, Reporter &reporter,
               const std::function<void()> &tick = {});

} // namespace qvota::cli
