// Serves the protocol over UDP: every datagram goes to the engine, every reply goes back to the
// sender of the last datagram.
#pragma once

#include "protocolengine.h"
#include "stopsignal.h"

#include <QHostAddress>
#include <QUdpSocket>

#include <functional>

namespace qvota::sim {

class UdpServer
{
public:
    UdpServer(ProtocolEngine &engine, const StopSignal &stop);

    // Binds address:port (port 0 picks a free one).
    bool bind(const QString &address, quint16 port, QString *error);
    QString endpoint() const; // "address:port" as bound

    // Serves until a stop is requested; afterInput runs after every datagram.
    void run(const std::function<void()> &afterInput);

private:
    void perform(const Actions &actions);

    ProtocolEngine &m_engine;
    const StopSignal &m_stop;
    QUdpSocket m_socket;
    QHostAddress m_peer;
    quint16 m_peerPort = 0;
};

} // namespace qvota::sim
