// The link of one run as the front ends choose it: which kind, and its port or addresses. The
// link is built here, once, for every front end.
#pragma once

#include "link.h"
#include "rundefaults.h"

#include <QString>

#include <memory>

namespace qvota {

struct LinkSettings
{
    bool serial = false; // otherwise UDP
    // Serial link.
    QString portName = defaults::SERIAL_PORT;
    int baudRate = defaults::BAUD;
    // UDP link. An empty host address binds any local address of the board's family.
    QString boardIp = defaults::BOARD_IP;
    quint16 boardPort = defaults::BOARD_PORT;
    QString hostIp = defaults::HOST_IP;
    quint16 hostPort = defaults::HOST_PORT;
};

// A closed link of the chosen kind.
std::unique_ptr<Link> make_link(const LinkSettings &settings);

} // namespace qvota
