// The link of one run as the front ends choose it: which kind, and its port or addresses. Each
// front end fills it from its own input (options, the window's map); the link is built and
// named in the log here, once.
#pragma once

#include "link.h"

#include <QString>

#include <memory>

namespace qvota {

struct LinkSettings
{
    bool serial = false; // otherwise UDP
    // Serial link.
    QString portName;
    int baudRate = 115200;
    // UDP link.
    QString boardIp = QStringLiteral("192.168.0.100");
    quint16 boardPort = 7777;
    QString hostIp = QStringLiteral("192.168.0.3");
    quint16 hostPort = 6666;
};

// A closed link of the chosen kind.
std::unique_ptr<Link> make_link(const LinkSettings &settings);

// The lines that name the link before it is opened, so a link that never opens is still named.
// They take texts: the command line shows its options as they were typed.
QString serial_link_line(const QString &port, const QString &baud);
QString udp_link_line(const QString &boardIp, const QString &boardPort, const QString &hostIp,
                      const QString &hostPort);

} // namespace qvota
