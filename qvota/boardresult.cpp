#include "boardresult.h"

namespace qvota::cli {

QString outcome_name(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Verified:
        return QStringLiteral("verified");
    case Outcome::Failed:
        return QStringLiteral("failed");
    case Outcome::Cancelled:
        break;
    }
    return QStringLiteral("cancelled");
}

void Tally::add(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Verified:
        ++verified;
        break;
    case Outcome::Failed:
        ++failed;
        break;
    case Outcome::Cancelled:
        ++cancelled;
        break;
    }
}

int Tally::exitCode(bool interrupted) const
{
    if (interrupted)
        return 130;
    return failed == 0 && cancelled == 0 ? 0 : 1;
}

double rate(const RunResult &run)
{
    // The transfer's own time when it completed: the erase and a warm boot's 8 s of listening
    // would otherwise make a fast link look slow.
    const double seconds = run.transferSeconds > 0 ? run.transferSeconds : run.seconds;
    return seconds > 0 ? double(run.bytes) / seconds : 0;
}

QString crc_text(quint32 crc)
{
    return QString::number(crc, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

} // namespace qvota::cli
