#include "runlines.h"

namespace qvota {

QString container_line(const ContainerInfo &info, bool withContainerSize)
{
    const QString container = withContainerSize
        ? QStringLiteral(" container=") + QString::number(info.containerSize)
        : QString();
    return QStringLiteral("qvbit v2 OK: plain=%1%2 crc32=%3 (on-chip decrypt)")
        .arg(QString::number(info.size), container, crc32_text(info.crc32));
}

// One multi-argument arg() call each, so a '%' in an address or port name is never substituted.
QString serial_link_line(const QString &port, const QString &baud)
{
    return QStringLiteral("opened %1 @%2").arg(port, baud);
}

QString udp_link_line(const QString &boardIp, const QString &boardPort, const QString &hostIp,
                      const QString &hostPort)
{
    return QStringLiteral("udp %1:%2 <- %3:%4").arg(boardIp, boardPort, hostIp, hostPort);
}

QString file_line(const QString &path)
{
    return QStringLiteral("file=") + path;
}

QString stamped(const QString &line, const QTime &time)
{
    return time.toString(QStringLiteral("HH:mm:ss.zzz")) + QLatin1Char(' ') + line;
}

} // namespace qvota
