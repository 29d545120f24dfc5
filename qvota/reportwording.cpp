#include "reportwording.h"

namespace qvota::cli {

// Live lines go to stderr only when it is a terminal: in a log file or a pipe, redrawn lines
// would be noise.
std::unique_ptr<LiveLines> live_lines_for(const OutputOptions &options)
{
    if (options.quiet || !is_terminal(stderr))
        return nullptr;
    return std::make_unique<LiveLines>(stderr, options.boards);
}

QString state_text(SlotState state)
{
    switch (state) {
    case SlotState::Waiting:
        return QStringLiteral("waiting for a board");
    case SlotState::Arrived:
        return QStringLiteral("board answers");
    case SlotState::Gone:
        break;
    }
    return QStringLiteral("board gone");
}

QString event_name(SlotState state)
{
    switch (state) {
    case SlotState::Waiting:
        return QStringLiteral("waiting");
    case SlotState::Arrived:
        return QStringLiteral("arrived");
    case SlotState::Gone:
        break;
    }
    return QStringLiteral("gone");
}

QString result_text(const BoardResult &result)
{
    const RunResult &run = result.run;
    const QString seconds = QString::number(run.seconds, 'f', 1);
    switch (result.outcome()) {
    case Outcome::Verified:
        return QStringLiteral("verified in %1 s").arg(seconds);
    case Outcome::Failed:
        return QStringLiteral("failed at %1 after %2 s: %3")
            .arg(stage_name(run.stage), seconds, run.error);
    case Outcome::Cancelled:
        break;
    }
    return QStringLiteral("cancelled at %1 after %2 s").arg(stage_name(run.stage), seconds);
}

} // namespace qvota::cli
