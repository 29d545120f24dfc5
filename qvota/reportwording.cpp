#include "reportwording.h"

namespace qvota::cli {

// Live lines go to stderr only when it is a terminal: in a log file or a pipe, redrawn lines
// would be noise.
LiveReporter::LiveReporter(const OutputOptions &options)
    : m_live(options.quiet || !is_terminal(stderr)
                 ? nullptr
                 : std::make_unique<LiveLines>(stderr, options.boards, options.imageBytes))
{}

QString state_text(SlotState state)
{
    // In the order of SlotState.
    static const char *const texts[] = {"waiting for a board", "board answers", "board gone"};
    return QString::fromLatin1(texts[int(state)]);
}

QString event_name(SlotState state)
{
    static const char *const names[] = {"waiting", "arrived", "gone"};
    return QString::fromLatin1(names[int(state)]);
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
            .arg(stage_name(run.stage), seconds, result.message());
    case Outcome::Cancelled:
        break;
    }
    return QStringLiteral("cancelled at %1 after %2 s").arg(stage_name(run.stage), seconds);
}

} // namespace qvota::cli
