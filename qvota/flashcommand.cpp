// qvota flash: every board at once, each on a thread of its own.
#include "commands.h"

#include "interrupt.h"
#include "runsetup.h"

#include <vector>

namespace qvota::cli {

int run_flash(const QStringList &arguments)
{
    RunOptions options;
    int exitCode = 0;
    const std::unique_ptr<PreparedRun> run =
        prepare_run(RunMode::Flash, arguments, &options, &exitCode);
    if (!run)
        return exitCode;
    install_interrupt_handlers();

    // One listing for all boards, taken before any thread starts: a board's serial number
    // resolves against the ports as they were when the run began.
    const bool anySerial = std::any_of(options.boards.cbegin(), options.boards.cend(),
                                       [](const BoardSpec &spec) { return spec.serial; });
    const QList<PortInfo> ports = anySerial ? available_ports() : QList<PortInfo>();

    std::vector<BoardResult> results(size_t(options.boards.size()));
    std::atomic_int running{int(options.boards.size())};
    std::vector<std::unique_ptr<QThread>> threads;
    for (qsizetype i = 0; i < options.boards.size(); ++i) {
        threads.push_back(start_thread([&, i] {
            const BoardSpec &spec = options.boards.at(i);
            results[size_t(i)] = update_board(spec, locate(spec, ports), run->plan,
                                              &interrupt_flag());
            --running;
        }));
    }
    supervise(running, *run->reporter);
    for (const std::unique_ptr<QThread> &thread : threads)
        thread->wait();

    Tally tally;
    for (const BoardResult &result : results)
        tally.add(result.outcome());
    exitCode = tally.exitCode(interrupted());
    run->reporter->summary(tally, exitCode);
    return exitCode;
}

} // namespace qvota::cli
