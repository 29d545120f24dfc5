// Runs a built executable to completion and hands back what it printed.
#pragma once

#include <QProcess>
#include <QStringList>

namespace qvota::test {

struct ProcessResult
{
    bool finished = false; // false: it did not end within the time limit and was killed
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QByteArray out;
    QByteArray err;

    QStringList outLines() const;
};

ProcessResult run_process(const QString &program, const QStringList &arguments,
                          int timeoutMs = 60000);

// CPU time this process has used so far, for checks that a wait does not spin.
qint64 process_cpu_ms();

// An upper bound of a wall-clock or CPU-time check, stretched by QVOTA_TEST_TIME_SCALE (the
// sanitizer presets set it): such a bound only says "not waiting for a time-out", and
// instrumented code on a loaded machine runs several times slower.
qint64 scaled_ms(qint64 ms);

// Strips the "HH:mm:ss.zzz " prefix of a time-stamped log line; returns an empty string
// (and sets ok to false) when the line does not start with a well-formed stamp.
QString strip_time_stamp(const QString &line, bool *ok = nullptr);

} // namespace qvota::test
