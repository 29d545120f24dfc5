#include "udpserver.h"

#include "simlog.h"

#include <QNetworkDatagram>

namespace qvota::sim {

namespace {
// How often a blocked wait looks at the stop flag; bounds how long SIGTERM takes to act.
constexpr int STOP_POLL_MS = 50;
// Quiet time after which a half-received command is dropped.
constexpr auto INPUT_GAP = std::chrono::milliseconds(100);
} // namespace

UdpServer::UdpServer(ProtocolEngine &engine, const StopSignal &stop)
    : m_engine(engine)
    , m_stop(stop)
{}

bool UdpServer::bind(const QString &address, quint16 port, QString *error)
{
    const QHostAddress host(address);
    if (host.isNull()) {
        *error = QStringLiteral("not an IP address: '%1'").arg(address);
        return false;
    }
    if (!m_socket.bind(host, port)) {
        *error = QStringLiteral("cannot bind udp %1:%2: %3")
                     .arg(address, QString::number(port), m_socket.errorString());
        return false;
    }
    return true;
}

QString UdpServer::endpoint() const
{
    return QStringLiteral("%1:%2").arg(m_socket.localAddress().toString(),
                                       QString::number(m_socket.localPort()));
}

void UdpServer::run(const std::function<void()> &afterInput)
{
    auto lastInput = StopSignal::Clock::now();
    while (!m_stop.requested()) {
        if (!m_socket.waitForReadyRead(STOP_POLL_MS)) {
            if (m_engine.hasPartialInput() && StopSignal::Clock::now() - lastInput >= INPUT_GAP)
                m_engine.inputIdle();
            continue;
        }
        while (m_socket.hasPendingDatagrams() && !m_stop.requested()) {
            const QNetworkDatagram datagram = m_socket.receiveDatagram();
            lastInput = StopSignal::Clock::now();
            if (m_engine.linkDropped())
                continue; // the board's network is gone: nothing is heard, nothing answered
            m_peer = datagram.senderAddress();
            m_peerPort = quint16(datagram.senderPort());
            perform(m_engine.feedDatagram(datagram.data()));
            if (afterInput)
                afterInput();
        }
    }
}

void UdpServer::perform(const Actions &actions)
{
    for (const Action &action : actions) {
        if (action.delayMs > 0
            && !m_stop.sleepUntil(StopSignal::Clock::now()
                                  + std::chrono::milliseconds(action.delayMs)))
            return;
        if (action.kind == Action::Kind::HangUp) {
            log_line(QStringLiteral("udp link silent from now on"));
            return;
        }
        if (m_socket.writeDatagram(action.bytes, m_peer, m_peerPort) != action.bytes.size())
            log_line(QStringLiteral("udp send failed: %1").arg(m_socket.errorString()));
    }
}

} // namespace qvota::sim
