#include "threadboard.h"

#include <QByteArray>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtEndian>

namespace qvota::test {

namespace {

QByteArray header_crc(const QByteArray &image)
{
    return image.size() < 36
               ? QByteArray("0")
               : QByteArray::number(qFromLittleEndian<quint32>(image.constData() + 32), 16);
}

} // namespace

ThreadBoard::ThreadBoard()
    : m_thread([this] { serve(); })
{
    while (m_port.load() == 0)
        std::this_thread::yield();
}

ThreadBoard::~ThreadBoard()
{
    m_stop.store(true);
    release(); // a held ack must not keep the thread from ending
    m_thread.join();
}

void ThreadBoard::holdAckOf(int frame, int releaseAfterMs)
{
    const std::lock_guard lock(m_mutex);
    m_holdAt = frame;
    m_releaseAfterMs = releaseAfterMs;
    m_holding = false;
    m_released = false;
}

bool ThreadBoard::waitUntilHolding(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return m_holding; });
}

void ThreadBoard::release()
{
    {
        const std::lock_guard lock(m_mutex);
        m_released = true;
    }
    m_changed.notify_all();
}

void ThreadBoard::holdIfAsked(int index)
{
    std::unique_lock lock(m_mutex);
    if (index != m_holdAt)
        return;
    m_holdAt = -1; // a retry of the frame goes through
    m_holding = true;
    m_changed.notify_all();
    if (m_releaseAfterMs < 0)
        m_changed.wait(lock, [this] { return m_released; });
    else
        m_changed.wait_for(lock, std::chrono::milliseconds(m_releaseAfterMs),
                           [this] { return m_released; });
}

void ThreadBoard::serve()
{
    QUdpSocket socket;
    m_port.store(socket.bind(QHostAddress::LocalHost, 0) ? socket.localPort() : 1);
    QByteArray image;
    qint64 expected = 0;
    while (!m_stop.load()) {
        if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(20))
            continue;
        const QNetworkDatagram datagram = socket.receiveDatagram();
        const QByteArray in = datagram.data();
        QByteArray reply;
        const Quiet quiet = m_quiet.load();
        if (in == "j") {
            if (quiet != Quiet::Identify)
                reply = "JEDEC=C86018\r\n";
        } else if (in.size() == 5 && in[0] == 'U') {
            expected = qFromLittleEndian<quint32>(in.constData() + 1);
            image.clear();
            if (quiet != Quiet::Erase)
                reply = "READY\r\n";
        } else if (in.size() > 6 && uchar(in[0]) == 0xAA && uchar(in[1]) == 0x55) {
            const int index = qFromLittleEndian<quint16>(in.constData() + 2);
            m_frames.fetch_add(1);
            holdIfAsked(index);
            if (index * 256 == image.size())
                image += in.mid(4, in.size() - 6);
            reply = "K";
            if (image.size() == expected && quiet != Quiet::RxDone)
                reply += "RXDONE CRC32=" + header_crc(image) + "\r\n";
        } else if (in == "F" && quiet != Quiet::Readback) {
            reply = "IMGCRC=" + header_crc(image) + "\r\n";
        }
        if (!reply.isEmpty())
            socket.writeDatagram(reply, datagram.senderAddress(), quint16(datagram.senderPort()));
    }
}

} // namespace qvota::test
