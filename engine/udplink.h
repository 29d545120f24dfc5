// UDP link: a socket bound to the host address that sends every write as one datagram to
// the board. Datagram boundaries are not kept: received payloads queue up in one buffer.
// Only datagrams from the board's address count (from any port, since a board may answer from
// another one): anyone else on the network could otherwise send acks or CRC lines and make a
// failed update look verified. A broadcast or multicast board address accepts every sender.
#pragma once

#include "link.h"

#include <QHostAddress>
#include <QUdpSocket>

namespace qvota {

class UdpLink final : public Link
{
public:
    // An empty hostIp binds to any local address of the board's family; hostPort 0 lets the
    // system choose the port.
    UdpLink(const QString &boardIp, quint16 boardPort, const QString &hostIp, quint16 hostPort);

    Expected<void> open() override;
    void close() override;
    void reopen() override;
    bool write(const QByteArray &bytes) override;
    int readByte(int timeoutMs) override;
    bool readLine(int timeoutMs, QString &line) override;
    void clearInput() override;
    QString inputNote() const override;

private:
    // Waits until unread bytes are buffered; false when the time-out passes first.
    bool waitForInput(int timeoutMs);
    // Appends the payload of every datagram waiting on the socket to m_rxBuffer.
    void takePendingDatagrams();
    qsizetype unreadCount() const { return m_rxBuffer.size() - m_rxOffset; }
    bool acceptsFrom(const QHostAddress &sender) const;

    QHostAddress m_boardAddress;
    quint16 m_boardPort;
    QHostAddress m_hostAddress;
    quint16 m_hostPort;
    QUdpSocket m_socket;
    QByteArray m_rxBuffer;
    // Bytes before this offset have been handed out; it saves moving the buffer on every read.
    qsizetype m_rxOffset = 0;
    bool m_anySender = false; // the board address reaches many hosts
    int m_ignoredDatagrams = 0;
};

} // namespace qvota
