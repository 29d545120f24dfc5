#include "linksettings.h"

#include "seriallink.h"
#include "udplink.h"

namespace qvota {

std::unique_ptr<Link> make_link(const LinkSettings &s)
{
    if (s.serial)
        return std::make_unique<SerialLink>(s.portName, s.baudRate);
    return std::make_unique<UdpLink>(s.boardIp, s.boardPort, s.hostIp, s.hostPort);
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

} // namespace qvota
