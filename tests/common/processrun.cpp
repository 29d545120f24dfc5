#include "processrun.h"

#include <algorithm>

#include <QRegularExpression>

#include <ctime>

namespace qvota::test {

QStringList ProcessResult::outLines() const
{
    QString text = QString::fromLocal8Bit(out);
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

ProcessResult run_process(const QString &program, const QStringList &arguments, int timeoutMs)
{
    ProcessResult result;
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(10000))
        return result;
    process.closeWriteChannel();
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.exitCode = process.exitCode();
    result.exitStatus = process.exitStatus();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

qint64 process_cpu_ms()
{
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

QString strip_time_stamp(const QString &line, bool *ok)
{
    static const QRegularExpression stamp(
        QStringLiteral("^([01]\\d|2[0-3]):[0-5]\\d:[0-5]\\d\\.\\d{3} "));
    const QRegularExpressionMatch match = stamp.match(line);
    if (ok)
        *ok = match.hasMatch();
    return match.hasMatch() ? line.mid(match.capturedLength()) : QString();
}

qint64 scaled_ms(qint64 ms)
{
    static const int factor = std::max(1, qEnvironmentVariableIntValue("QVOTA_TEST_TIME_SCALE"));
    return ms * factor;
}

} // namespace qvota::test
