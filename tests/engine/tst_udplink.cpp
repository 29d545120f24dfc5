// UdpLink against a plain QUdpSocket on the loopback address that plays the board.
#include "udplink.h"

#include "processrun.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QTest>
#include <QUdpSocket>

#include <memory>

using qvota::UdpLink;

namespace {

const QHostAddress loopback(QHostAddress::LocalHost);

// A port that was free a moment ago; the link binds to it right after.
quint16 free_udp_port()
{
    QUdpSocket probe;
    return probe.bind(loopback, 0) ? probe.localPort() : 0;
}

} // namespace

class TestUdpLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void bufferedBytesComeAtOnce();
    void readLineTakesWhatReadByteLeft();
    void readLineJoinsDatagramsAndDropsLineEnds();
    void readLineTimeOutLeavesLineUnchanged();
    void readByteTimesOutWithoutSpinning();
    void datagramFromAnotherSenderIsAccepted();
    void writeSendsOneDatagramToTheBoard();
    void clearInputDropsBufferedAndPendingDatagrams();
    void reopenKeepsBufferAndSocket();
    void bindToTakenPortFailsAtOnce();
    void unparsableHostAddressFailsToBind();

private:
    // Sends bytes as one datagram to the link, from the board socket unless another is given.
    void sendToLink(const QByteArray &bytes, QUdpSocket *from = nullptr);

    QUdpSocket m_board;
    quint16 m_linkPort = 0;
    std::unique_ptr<UdpLink> m_link;
};

void TestUdpLink::init()
{
    QVERIFY(m_board.bind(loopback, 0));
    m_linkPort = free_udp_port();
    QVERIFY(m_linkPort != 0);
    m_link = std::make_unique<UdpLink>(QStringLiteral("127.0.0.1"), m_board.localPort(),
                                       QStringLiteral("127.0.0.1"), m_linkPort);
    QString error;
    QVERIFY2(m_link->open(&error), qPrintable(error));
}

void TestUdpLink::cleanup()
{
    m_link.reset();
    m_board.close();
}

void TestUdpLink::sendToLink(const QByteArray &bytes, QUdpSocket *from)
{
    QUdpSocket *sender = from ? from : &m_board;
    QCOMPARE(sender->writeDatagram(bytes, loopback, m_linkPort), qint64(bytes.size()));
}

void TestUdpLink::bufferedBytesComeAtOnce()
{
    sendToLink("AB");
    QCOMPARE(m_link->readByte(1000), int('A'));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(m_link->readByte(1), int('B'));
    QVERIFY(timer.elapsed() < 20);
}

void TestUdpLink::readLineTakesWhatReadByteLeft()
{
    sendToLink("AB\r\n");
    QCOMPARE(m_link->readByte(1000), int('A'));
    QString line;
    QVERIFY(m_link->readLine(1000, line));
    QCOMPARE(line, QStringLiteral("B"));
    QCOMPARE(m_link->readByte(50), -1);
}

void TestUdpLink::readLineJoinsDatagramsAndDropsLineEnds()
{
    sendToLink("JEDEC=C86018\r\n");
    sendToLink("REA\rDY\r\n");
    QTest::qSleep(50); // both datagrams are waiting before the read
    QString line;
    QVERIFY(m_link->readLine(1000, line));
    QCOMPARE(line, QStringLiteral("JEDEC=C86018READY"));

    sendToLink("\xe9\r\n");
    QVERIFY(m_link->readLine(1000, line));
    QCOMPARE(line, QString::fromLatin1("\xe9"));
}

void TestUdpLink::readLineTimeOutLeavesLineUnchanged()
{
    QString line = QStringLiteral("unchanged");
    QVERIFY(!m_link->readLine(100, line));
    QCOMPARE(line, QStringLiteral("unchanged"));
    QVERIFY(!m_link->readLine(0, line));
    QCOMPARE(line, QStringLiteral("unchanged"));
}

void TestUdpLink::readByteTimesOutWithoutSpinning()
{
    QElapsedTimer timer;
    timer.start();
    const qint64 cpuBefore = qvota::test::process_cpu_ms();
    QCOMPARE(m_link->readByte(500), -1);
    const qint64 cpuUsed = qvota::test::process_cpu_ms() - cpuBefore;
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= 490, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < 800, qPrintable(QString::number(elapsed)));
    QVERIFY2(cpuUsed < 100, qPrintable(QStringLiteral("%1 ms CPU in 500 ms").arg(cpuUsed)));
    QCOMPARE(m_link->readByte(0), -1);
}

void TestUdpLink::datagramFromAnotherSenderIsAccepted()
{
    QUdpSocket stranger;
    QVERIFY(stranger.bind(loopback, 0));
    sendToLink("Z", &stranger);
    QCOMPARE(m_link->readByte(1000), int('Z'));
}

void TestUdpLink::writeSendsOneDatagramToTheBoard()
{
    QByteArray frame(262, '\0');
    for (int i = 0; i < frame.size(); ++i)
        frame[i] = char(0xAA ^ i);
    QVERIFY(m_link->write(frame));
    QVERIFY(m_link->write("F"));

    QVERIFY(m_board.waitForReadyRead(1000));
    const QNetworkDatagram first = m_board.receiveDatagram();
    QCOMPARE(first.data(), frame);
    QCOMPARE(first.senderAddress(), loopback);
    QCOMPARE(first.senderPort(), int(m_linkPort));
    QVERIFY(m_board.hasPendingDatagrams() || m_board.waitForReadyRead(1000));
    QCOMPARE(m_board.receiveDatagram().data(), QByteArray("F"));
}

void TestUdpLink::clearInputDropsBufferedAndPendingDatagrams()
{
    sendToLink("AB");
    QCOMPARE(m_link->readByte(1000), int('A')); // leaves B in the buffer
    sendToLink("stale 1");
    sendToLink("stale 2");
    QTest::qSleep(50); // both are pending on the socket, not yet read
    m_link->clearInput();
    QCOMPARE(m_link->readByte(50), -1);

    sendToLink("K");
    QCOMPARE(m_link->readByte(1000), int('K'));
}

void TestUdpLink::reopenKeepsBufferAndSocket()
{
    sendToLink("ABC");
    QCOMPARE(m_link->readByte(1000), int('A'));
    QElapsedTimer timer;
    timer.start();
    m_link->reopen();
    QVERIFY(timer.elapsed() < 20);
    QCOMPARE(m_link->readByte(1), int('B'));
    sendToLink("D");
    QString line;
    QVERIFY(m_link->readLine(1000, line));
    QCOMPARE(line, QStringLiteral("C"));
    QCOMPARE(m_link->readByte(1000), int('D'));
    QVERIFY(m_link->write("b"));
    QVERIFY(m_board.waitForReadyRead(1000));
    QCOMPARE(m_board.receiveDatagram().data(), QByteArray("b"));
}

void TestUdpLink::bindToTakenPortFailsAtOnce()
{
    QUdpSocket holder;
    QVERIFY(holder.bind(loopback, 0, QUdpSocket::DontShareAddress));
    UdpLink link(QStringLiteral("127.0.0.1"), m_board.localPort(), QStringLiteral("127.0.0.1"),
                 holder.localPort());
    QString error;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!link.open(&error));
    QVERIFY(timer.elapsed() < 1000);
    QCOMPARE(error, QStringLiteral("udp bind 127.0.0.1:%1 failed").arg(holder.localPort()));
    QVERIFY(!link.open(nullptr));
}

void TestUdpLink::unparsableHostAddressFailsToBind()
{
    const quint16 port = free_udp_port();
    UdpLink link(QStringLiteral("127.0.0.1"), m_board.localPort(), QStringLiteral("192.168.0.x"),
                 port);
    QString error;
    QVERIFY(!link.open(&error));
    QCOMPARE(error, QStringLiteral("udp bind :%1 failed").arg(port));
}

QTEST_GUILESS_MAIN(TestUdpLink)
#include "tst_udplink.moc"
