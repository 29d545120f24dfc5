#include "boardresult.h"

namespace qvota::cli {

QString outcome_name(Outcome outcome)
{
    // In the order of Outcome.
    static const char *const names[] = {"verified", "failed", "cancelled"};
    return QString::fromLatin1(names[int(outcome)]);
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
    return seconds > 0 ? bytes_per_second(run.bytesAcked, seconds) : 0;
}

QJsonObject result_fields(const BoardResult &result)
{
    const RunResult &run = result.run;
    QJsonObject object{{QStringLiteral("outcome"), outcome_name(result.outcome())},
                       {QStringLiteral("stage"), stage_name(run.stage)},
                       {QStringLiteral("message"), result.message()},
                       {QStringLiteral("bytes"), run.bytesAcked},
                       {QStringLiteral("seconds"), run.seconds},
                       {QStringLiteral("port"), result.port},
                       {QStringLiteral("expectedCrc32"), crc32_text(run.expectedCrc32)}};
    if (run.transferSeconds > 0)
        object.insert(QStringLiteral("transferSeconds"), run.transferSeconds);
    if (!result.usbSerial.isEmpty())
        object.insert(QStringLiteral("usbSerial"), result.usbSerial);
    if (run.rxCrc32)
        object.insert(QStringLiteral("rxCrc32"), crc32_text(*run.rxCrc32));
    if (run.imgCrc32)
        object.insert(QStringLiteral("imgCrc32"), crc32_text(*run.imgCrc32));
    if (!run.warmBootAnswer.isEmpty())
        object.insert(QStringLiteral("warmBootAnswer"), run.warmBootAnswer);
    return object;
}

} // namespace qvota::cli
