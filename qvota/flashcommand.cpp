// qvota flash: every board at once, each on a thread of its own.
#include "commands.h"

#include "interrupt.h"
#include "runsetup.h"

namespace qvota::cli {

int run_flash(const QStringList &arguments)
{
    return run_boards(RunMode::Flash, arguments, [](PreparedRun &run) {
        // One listing for all boards, taken before any thread starts: a board's serial number
        // resolves against the ports as they were when the run began.
        const bool anySerial = std::any_of(run.options.boards.cbegin(), run.options.boards.cend(),
                                           [](const BoardSpec &spec) { return spec.serial; });
        const QList<PortInfo> ports = anySerial ? available_ports() : QList<PortInfo>();
        BoardWork work;
        work.serve = [&run, ports](const BoardSpec &spec) {
            update_board(spec, locate(spec, ports), run.plan, &interrupt_flag());
        };
        return work;
    });
}

} // namespace qvota::cli
