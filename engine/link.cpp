#include "link.h"

#include <QElapsedTimer>
#include <QThread>

#include <algorithm>

namespace qvota {

bool Link::pause(int ms) const
{
    QElapsedTimer timer;
    timer.start();
    for (qint64 left = ms; left > 0; left = ms - timer.elapsed()) {
        if (cancelRequested())
            return false;
        QThread::msleep(quint64(std::min<qint64>(left, POLL_MS)));
    }
    return !cancelRequested();
}

} // namespace qvota
