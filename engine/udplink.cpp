#include "udplink.h"

#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QThread>

namespace qvota {

UdpLink::UdpLink(const QString &boardIp, quint16 boardPort, const QString &hostIp, quint16 hostPort)
    : m_boardAddress(boardIp)
    , m_boardPort(boardPort)
    , m_hostAddress(hostIp)
    , m_hostPort(hostPort)
{
    // No local address at all (not one that failed to parse): the system picks the interface
    // that reaches the board, as for any client socket.
    if (hostIp.isEmpty()) {
        m_hostAddress = m_boardAddress.protocol() == QAbstractSocket::IPv6Protocol
            ? QHostAddress(QHostAddress::AnyIPv6)
            : QHostAddress(QHostAddress::AnyIPv4);
    }
}

namespace {

// A limited broadcast, a multicast group, or the directed broadcast of a local subnet.
bool reaches_many_hosts(const QHostAddress &address)
{
    if (address.isBroadcast() || address.isMulticast())
        return true;
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
            if (!entry.broadcast().isNull() && entry.broadcast() == address)
                return true;
        }
    }
    return false;
}

} // namespace

Expected<void> UdpLink::open()
{
    // The board sits on a local link: no proxy can carry its datagrams, and asking the system
    // for one (libproxy) costs a lookup on threads of its own at every bind.
    m_socket.setProxy(QNetworkProxy::NoProxy);
    m_anySender = reaches_many_hosts(m_boardAddress);
    m_ignoredDatagrams = 0;
    clearFailure();
    // Qt would bind a null address (an IP text that did not parse) to every interface.
    if (!m_hostAddress.isNull() && m_socket.bind(m_hostAddress, m_hostPort))
        return {};
    return Failure::refused(QStringLiteral("udp bind %1:%2 failed")
                                .arg(m_hostAddress.toString(), QString::number(m_hostPort)));
}

void UdpLink::close()
{
    m_socket.close();
}

void UdpLink::reopen()
{
    // A datagram socket has no connection to renew.
}

bool UdpLink::write(const QByteArray &bytes)
{
    if (!failure().isEmpty())
        return false;
    if (m_socket.writeDatagram(bytes, m_boardAddress, m_boardPort) == bytes.size())
        return true;
    // A board that is not listening yet answers with a port-unreachable report, and a full send
    // buffer empties: both pass. Anything else (no route to the board, a socket that closed)
    // stays.
    const QAbstractSocket::SocketError error = m_socket.error();
    if (error == QAbstractSocket::ConnectionRefusedError || error == QAbstractSocket::TemporaryError)
        return true;
    setFailure(QStringLiteral("udp send to %1:%2 failed: %3")
                   .arg(m_boardAddress.toString(), QString::number(m_boardPort),
                        m_socket.errorString()));
    return false;
}

int UdpLink::readByte(int timeoutMs)
{
    if (!waitForInput(timeoutMs))
        return -1;
    const auto byte = quint8(m_rxBuffer.at(m_rxOffset++));
    if (m_rxOffset == m_rxBuffer.size()) {
        m_rxBuffer.resize(0); // keeps the capacity for the next datagrams
        m_rxOffset = 0;
    }
    return byte;
}

bool UdpLink::readLine(int timeoutMs, QString &line)
{
    if (!waitForInput(timeoutMs))
        return false;
    QByteArray bytes = m_rxBuffer.mid(m_rxOffset);
    m_rxBuffer.resize(0);
    m_rxOffset = 0;
    bytes.removeIf([](char c) { return c == '\r' || c == '\n'; });
    line = QString::fromLatin1(bytes);
    return true;
}

QString UdpLink::inputNote() const
{
    if (m_ignoredDatagrams == 0)
        return {};
    return QStringLiteral("udp: ignored %1 datagram(s) from senders other than the board %2")
        .arg(QString::number(m_ignoredDatagrams), m_boardAddress.toString());
}

bool UdpLink::acceptsFrom(const QHostAddress &sender) const
{
    // Tolerant, so an IPv4 board still matches when the socket reports its IPv4-mapped form.
    return m_anySender || sender.isEqual(m_boardAddress, QHostAddress::TolerantConversion);
}

void UdpLink::clearInput()
{
    m_rxBuffer.clear();
    m_rxOffset = 0;
    while (m_socket.hasPendingDatagrams()) {
        if (m_socket.readDatagram(nullptr, 0) < 0)
            break;
    }
}

bool UdpLink::waitForInput(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (unreadCount() == 0) {
        const qint64 left = timeoutMs - timer.elapsed();
        if (left <= 0 || cancelRequested() || !failure().isEmpty())
            return false;
        if (m_socket.state() != QAbstractSocket::BoundState) {
            setFailure(QStringLiteral("udp socket on %1:%2 closed")
                           .arg(m_hostAddress.toString(), QString::number(m_hostPort)));
            return false;
        }
        // In slices, so that a cancel ends the wait soon; a datagram still wakes it at once.
        const int slice = int(qMin<qint64>(left, POLL_MS));
        const qint64 sliceStart = timer.elapsed();
        if (m_socket.waitForReadyRead(slice)) {
            takePendingDatagrams();
        } else if (const qint64 rest = slice - (timer.elapsed() - sliceStart); rest > 0) {
            // A socket error (a port-unreachable report) fails the wait at once: no spinning.
            QThread::msleep(quint64(rest));
        }
    }
    return true;
}

void UdpLink::takePendingDatagrams()
{
    while (m_socket.hasPendingDatagrams()) {
        const qint64 size = m_socket.pendingDatagramSize();
        if (size < 0)
            break;
        const qsizetype end = m_rxBuffer.size();
        m_rxBuffer.resize(end + size);
        QHostAddress sender;
        const qint64 got = m_socket.readDatagram(m_rxBuffer.data() + end, size, &sender);
        if (got < 0) {
            m_rxBuffer.resize(end);
            break;
        }
        if (acceptsFrom(sender)) {
            m_rxBuffer.resize(end + got);
        } else {
            m_rxBuffer.resize(end);
            ++m_ignoredDatagrams;
        }
    }
}

} // namespace qvota
