#include "simlog.h"

#include <QElapsedTimer>

#include <cstdio>

namespace qvota::sim {

void log_line(const QString &line)
{
    static QElapsedTimer sinceStart = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    const QString seconds = QString::number(double(sinceStart.nsecsElapsed()) / 1e9, 'f', 3);
    const QByteArray text =
        QStringLiteral("[%1] %2\n").arg(seconds.rightJustified(9), line).toLocal8Bit();
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

} // namespace qvota::sim
