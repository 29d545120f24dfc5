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

} // namespace qvota
