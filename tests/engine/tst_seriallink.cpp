// SerialLink against a pseudo-terminal: the test holds the master side and plays the board,
// the link opens the slave side as its serial port.
#include "seriallink.h"

#include "processrun.h"

#include <QElapsedTimer>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <memory>
#include <thread>

using qvota::SerialLink;

namespace {

// One pseudo-terminal pair. The master stays open for the peer's whole life: a slave whose
// master has gone reports hang-up instead of waiting.
class PtyPeer
{
public:
    PtyPeer()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return;
        termios tio{};
        if (::tcgetattr(m_master, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(m_master, TCSANOW, &tio);
        }
        if (const char *name = ::ptsname(m_master))
            m_slavePath = QString::fromLocal8Bit(name);
    }
    ~PtyPeer() { closeMaster(); }

    bool isValid() const { return m_master >= 0 && !m_slavePath.isEmpty(); }
    QString slavePath() const { return m_slavePath; }

    bool send(const QByteArray &bytes)
    {
        return ::write(m_master, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }

    // Reads from the master until count bytes came or timeoutMs passed.
    QByteArray receive(int count, int timeoutMs)
    {
        QByteArray bytes;
        QElapsedTimer timer;
        timer.start();
        while (bytes.size() < count && timer.elapsed() < timeoutMs) {
            pollfd pfd{m_master, POLLIN, 0};
            if (::poll(&pfd, 1, int(timeoutMs - timer.elapsed())) <= 0)
                break;
            char chunk[512];
            const ssize_t n = ::read(m_master, chunk, sizeof chunk);
            if (n <= 0)
                break;
            bytes.append(chunk, n);
        }
        return bytes;
    }

    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

private:
    int m_master = -1;
    QString m_slavePath;
};

} // namespace

class TestSerialLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void readLine_data();
    void readLine();
    void readLineDeliversOneLinePerCall();
    void partialLineAtTimeOutIsDiscarded();
    void readByteReturnsBytesInOrderThenTimesOut();
    void zeroTimeOutReturnsAtOnceEvenWithBytesWaiting();
    void waitingForDataDoesNotSpin();
    void hungUpPortWaitsOutTheTimeOutWithoutSpinning();
    void writeReachesThePeer();
    void clearInputDropsPendingInput();
    void reopenPausesAndEmptiesTheInput();
    void openFailsAfterTwentyAttempts();

private:
    std::unique_ptr<PtyPeer> m_peer;
    std::unique_ptr<SerialLink> m_link;
};

void TestSerialLink::init()
{
    m_peer = std::make_unique<PtyPeer>();
    if (!m_peer->isValid())
        QSKIP("no pseudo-terminal available");
    m_link = std::make_unique<SerialLink>(m_peer->slavePath(), 115200);
    QString error;
    QVERIFY2(m_link->open(&error), qPrintable(error));
}

void TestSerialLink::cleanup()
{
    m_link.reset(); // closes the slave while the master is still there
    m_peer.reset();
}

void TestSerialLink::readLine_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("expected");

    QTest::newRow("CR LF ends the line") << QByteArray("READY\r\n") << "READY";
    QTest::newRow("lone LF is an empty line") << QByteArray("\n") << "";
    QTest::newRow("CR anywhere is dropped") << QByteArray("JE\rDEC=C86018\r\r\n") << "JEDEC=C86018";
    QTest::newRow("bytes above 0x7F are Latin-1")
        << QByteArray("caf\xe9\n") << QString::fromLatin1("caf\xe9");
}

void TestSerialLink::readLine()
{
    QFETCH(QByteArray, sent);
    QFETCH(QString, expected);

    QVERIFY(m_peer->send(sent));
    QString line = QStringLiteral("unchanged");
    QVERIFY(m_link->readLine(2000, line));
    QCOMPARE(line, expected);
}

void TestSerialLink::readLineDeliversOneLinePerCall()
{
    QVERIFY(m_peer->send("ONE\r\nTWO\r\n"));
    QString line;
    QVERIFY(m_link->readLine(2000, line));
    QCOMPARE(line, QStringLiteral("ONE"));
    QVERIFY(m_link->readLine(2000, line));
    QCOMPARE(line, QStringLiteral("TWO"));
}

void TestSerialLink::partialLineAtTimeOutIsDiscarded()
{
    QVERIFY(m_peer->send("PART"));
    QString line = QStringLiteral("unchanged");
    QVERIFY(!m_link->readLine(200, line));
    QCOMPARE(line, QStringLiteral("unchanged"));

    QVERIFY(m_peer->send("NEXT\n"));
    QVERIFY(m_link->readLine(2000, line));
    QCOMPARE(line, QStringLiteral("NEXT"));
}

void TestSerialLink::readByteReturnsBytesInOrderThenTimesOut()
{
    QVERIFY(m_peer->send(QByteArray("K\x00\xff", 3)));
    QCOMPARE(m_link->readByte(1000), int('K'));
    QCOMPARE(m_link->readByte(1000), 0x00);
    QCOMPARE(m_link->readByte(1000), 0xFF);

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(m_link->readByte(300), -1);
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(elapsed >= 300, qPrintable(QString::number(elapsed)));
    // Each wait lasts at most 50 ms, so the deadline is noticed promptly.
    QVERIFY2(elapsed < 300 + 150, qPrintable(QString::number(elapsed)));
}

void TestSerialLink::zeroTimeOutReturnsAtOnceEvenWithBytesWaiting()
{
    QVERIFY(m_peer->send("X\n"));
    QTest::qSleep(100); // let the bytes reach the port

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(m_link->readByte(0), -1);
    QCOMPARE(m_link->readByte(-5), -1);
    QString line = QStringLiteral("unchanged");
    QVERIFY(!m_link->readLine(0, line));
    QVERIFY(timer.elapsed() < 20);
    QCOMPARE(line, QStringLiteral("unchanged"));

    QCOMPARE(m_link->readByte(1000), int('X'));
}

void TestSerialLink::waitingForDataDoesNotSpin()
{
    const qint64 cpuBefore = qvota::test::process_cpu_ms();
    QCOMPARE(m_link->readByte(1000), -1);
    QString line;
    QVERIFY(!m_link->readLine(1000, line));
    const qint64 cpuUsed = qvota::test::process_cpu_ms() - cpuBefore;
    QVERIFY2(cpuUsed < 200, qPrintable(QStringLiteral("%1 ms CPU in 2 s of waiting").arg(cpuUsed)));
}

void TestSerialLink::hungUpPortWaitsOutTheTimeOutWithoutSpinning()
{
    // A vanished device (here: the master side closed) fails every wait at once.
    m_peer->closeMaster();
    QElapsedTimer timer;
    timer.start();
    const qint64 cpuBefore = qvota::test::process_cpu_ms();
    QCOMPARE(m_link->readByte(500), -1);
    const qint64 cpuUsed = qvota::test::process_cpu_ms() - cpuBefore;
    QVERIFY2(timer.elapsed() >= 500, qPrintable(QString::number(timer.elapsed())));
    QVERIFY2(cpuUsed < 100, qPrintable(QStringLiteral("%1 ms CPU in 500 ms").arg(cpuUsed)));
}

void TestSerialLink::writeReachesThePeer()
{
    QVERIFY(m_link->write("j"));
    QCOMPARE(m_peer->receive(1, 2000), QByteArray("j"));

    QByteArray frame(262, '\0');
    for (int i = 0; i < frame.size(); ++i)
        frame[i] = char(i * 7);
    QVERIFY(m_link->write(frame));
    QCOMPARE(m_peer->receive(frame.size(), 2000), frame);

    QVERIFY(m_link->write(QByteArray()));
}

void TestSerialLink::clearInputDropsPendingInput()
{
    QVERIFY(m_peer->send("stale\n"));
    QTest::qSleep(100);
    m_link->clearInput();
    QCOMPARE(m_link->readByte(100), -1);

    QVERIFY(m_peer->send("fresh\n"));
    QString line;
    QVERIFY(m_link->readLine(2000, line));
    QCOMPARE(line, QStringLiteral("fresh"));
}

void TestSerialLink::reopenPausesAndEmptiesTheInput()
{
    // Bytes that reach the port while it is closed for the pause must not survive the reopen.
    std::thread board([this] {
        QTest::qSleep(1000);
        m_peer->send("banner of the old session\n");
    });
    QElapsedTimer timer;
    timer.start();
    m_link->reopen();
    const qint64 elapsed = timer.elapsed();
    board.join();
    QVERIFY2(elapsed >= 2000, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < 5000, qPrintable(QString::number(elapsed)));

    QCOMPARE(m_link->readByte(200), -1);
    QVERIFY(m_peer->send("QUELVANE APP2\r\n"));
    QString line;
    QVERIFY(m_link->readLine(2000, line));
    QCOMPARE(line, QStringLiteral("QUELVANE APP2"));
    QVERIFY(m_link->write("b"));
    QCOMPARE(m_peer->receive(1, 2000), QByteArray("b"));
}

void TestSerialLink::openFailsAfterTwentyAttempts()
{
    const QString port = QStringLiteral("/dev/does-not-exist-qvota-%1").arg(::getpid());
    SerialLink link(port, 115200);
    QString error;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!link.open(&error));
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(error, QStringLiteral("cannot open %1").arg(port));
    // 20 attempts with a 500 ms pause after each.
    QVERIFY2(elapsed >= 9500, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < 20000, qPrintable(QString::number(elapsed)));
}

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
