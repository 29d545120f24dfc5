// UdpLink against a plain QUdpSocket on the loopback address that plays the board.
#include "processrun.h"
#include "udplink.h"

#include <QElapsedTimer>
#include <QTest>
#include <QUdpSocket>

#include <memory>

using qvota::UdpLink;
using qvota::test::scaled_ms;

static const QHostAddress LOOPBACK(QHostAddress::LocalHost);

// A port that was free a moment ago; the link binds to it right after.
static quint16 free_udp_port()
{
    QUdpSocket probe;
    return probe.bind(LOOPBACK, 0) ? probe.localPort() : 0;
}

class TestUdpLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void bufferedBytesComeAtOnceAndReadLineTakesTheRest();
    void readLineJoinsTheBoardsDatagramsAndDropsLineEnds();
    void boardAddressesThatReachManyAcceptEverySender_data();
    void boardAddressesThatReachManyAcceptEverySender();
    void reopenKeepsTheBufferButClearInputDropsIt();
    void bindFailures();

private:
    void sendToLink(const QByteArray &bytes, QUdpSocket *from = nullptr)
    {
        QCOMPARE((from ? from : m_board.get())->writeDatagram(bytes, LOOPBACK, m_linkPort),
                 qint64(bytes.size()));
    }

    std::unique_ptr<QUdpSocket> m_board;
    quint16 m_linkPort = 0;
    std::unique_ptr<UdpLink> m_link;
};

void TestUdpLink::init()
{
    // Replacing the previous test's sockets frees their ports.
    m_board = std::make_unique<QUdpSocket>();
    QVERIFY(m_board->bind(LOOPBACK, 0));
    m_linkPort = free_udp_port();
    m_link = std::make_unique<UdpLink>(QStringLiteral("127.0.0.1"), m_board->localPort(),
                                       QStringLiteral("127.0.0.1"), m_linkPort);
    QString error;
    QVERIFY2((error = m_link->open().message()).isEmpty(), qPrintable(error));
}

void TestUdpLink::bufferedBytesComeAtOnceAndReadLineTakesTheRest()
{
    sendToLink("ABC\r\n");
    QCOMPARE(m_link->readByte(1000), int('A'));
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(m_link->readByte(1), int('B'));
    QVERIFY(timer.elapsed() < scaled_ms(500)); // at once, not after a time-out
    QString line;
    QVERIFY(m_link->readLine(1000, line));
    QCOMPARE(line, QStringLiteral("C"));
    QVERIFY(!m_link->readLine(100, line));
    QCOMPARE(line, QStringLiteral("C"));
}

void TestUdpLink::readLineJoinsTheBoardsDatagramsAndDropsLineEnds()
{
    // The board may answer from another port; another host must not be heard at all, or it
    // could ack frames and report CRCs for a board that failed.
    QUdpSocket otherPort, otherHost;
    QVERIFY(otherPort.bind(LOOPBACK, 0));
    QVERIFY(otherHost.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
    sendToLink("K", &otherHost);
    sendToLink("JEDEC=C86018\r\n");
    sendToLink("IMGCRC=12345678\r\n", &otherHost);
    sendToLink("REA\rDY\xe9\r\n", &otherPort);
    QTest::qSleep(50); // every datagram is waiting before the read
    QString line;
    QVERIFY(m_link->readLine(1000, line));
    QCOMPARE(line, QString::fromLatin1("JEDEC=C86018READY\xe9"));
    QCOMPARE(m_link->readByte(50), -1);
    QCOMPARE(
        m_link->inputNote(),
        QStringLiteral("udp: ignored 2 datagram(s) from senders other than the board 127.0.0.1"));
}

void TestUdpLink::boardAddressesThatReachManyAcceptEverySender_data()
{
    QTest::addColumn<QString>("board");
    QTest::newRow("broadcast") << QStringLiteral("255.255.255.255");
    QTest::newRow("multicast") << QStringLiteral("224.0.0.1");
}

void TestUdpLink::boardAddressesThatReachManyAcceptEverySender()
{
    // Nothing is sent to these addresses: the link only listens.
    QFETCH(QString, board);
    const quint16 port = free_udp_port();
    UdpLink link(board, 7777, QStringLiteral("127.0.0.1"), port);
    QString error;
    QVERIFY2((error = link.open().message()).isEmpty(), qPrintable(error));
    QUdpSocket otherHost;
    QVERIFY(otherHost.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
    QCOMPARE(otherHost.writeDatagram("K", LOOPBACK, port), qint64(1));
    QCOMPARE(link.readByte(1000), int('K'));
    QCOMPARE(link.inputNote(), QString());
}

void TestUdpLink::reopenKeepsTheBufferButClearInputDropsIt()
{
    sendToLink("ABC");
    QCOMPARE(m_link->readByte(1000), int('A'));
    QElapsedTimer timer;
    timer.start();
    m_link->reopen();
    QVERIFY(timer.elapsed() < scaled_ms(500)); // at once, not after a time-out
    QCOMPARE(m_link->readByte(1), int('B'));

    sendToLink("stale 1");
    sendToLink("stale 2");
    QTest::qSleep(50);    // both are pending on the socket, not yet read
    m_link->clearInput(); // C is still buffered
    QCOMPARE(m_link->readByte(50), -1);
    sendToLink("K");
    QCOMPARE(m_link->readByte(1000), int('K'));
}

void TestUdpLink::bindFailures()
{
    QUdpSocket holder;
    QVERIFY(holder.bind(LOOPBACK, 0, QUdpSocket::DontShareAddress));
    UdpLink taken(QStringLiteral("127.0.0.1"), m_board->localPort(), QStringLiteral("127.0.0.1"),
                  holder.localPort());
    QString error;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!(error = taken.open().message()).isEmpty());
    QVERIFY(timer.elapsed() < scaled_ms(1000));
    QCOMPARE(error, QStringLiteral("udp bind 127.0.0.1:%1 failed").arg(holder.localPort()));

    // Left unchecked, an address that does not parse would bind every interface.
    const quint16 port = free_udp_port();
    UdpLink unparsable(QStringLiteral("127.0.0.1"), m_board->localPort(),
                       QStringLiteral("192.168.0.x"), port);
    QVERIFY(!(error = unparsable.open().message()).isEmpty());
    QCOMPARE(error, QStringLiteral("udp bind :%1 failed").arg(port));

    // A zone in an IPv6 address reads like a placeholder and must come out as it went in.
    UdpLink zoned(QStringLiteral("127.0.0.1"), m_board->localPort(), QStringLiteral("fe80::1%2"),
                  6666);
    QVERIFY(!(error = zoned.open().message()).isEmpty());
    QCOMPARE(error, QStringLiteral("udp bind fe80::1%2:6666 failed"));
}

QTEST_GUILESS_MAIN(TestUdpLink)
#include "tst_udplink.moc"
