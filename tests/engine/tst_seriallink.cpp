// SerialLink against a pseudo-terminal: the test holds the master side and plays the board.
#include "seriallink.h"

#include "processrun.h"

#include <QElapsedTimer>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <thread>
#include <utility>

using qvota::SerialLink;

class TestSerialLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void readLine_data();
    void readLine();
    void partialLineAtTimeOutIsDiscarded();
    void zeroTimeOutTakesNothingAndClearInputDropsTheRest();
    void waitsOutTheTimeOutWithoutSpinning_data();
    void waitsOutTheTimeOutWithoutSpinning();
    void reopenPausesAndEmptiesTheInput();
    void openFailsAfterTwentyAttempts();

private:
    bool send(const QByteArray &bytes)
    {
        return ::write(m_master, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }

    int m_master = -1;
    std::unique_ptr<SerialLink> m_link;
};

void TestSerialLink::init()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        QSKIP("no pseudo-terminal available");
    m_link = std::make_unique<SerialLink>(QString::fromLocal8Bit(::ptsname(m_master)), 115200);
    QString error;
    QVERIFY2((error = m_link->open().message()).isEmpty(), qPrintable(error));
}

void TestSerialLink::cleanup()
{
    // The slave goes first: with its master gone it would report hang-up instead of waiting.
    m_link.reset();
    if (m_master >= 0)
        ::close(m_master);
}

void TestSerialLink::readLine_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("expected");
    QTest::newRow("CR LF ends the line") << QByteArray("READY\r\n") << "READY";
    QTest::newRow("lone LF is an empty line") << QByteArray("\n") << "";
    QTest::newRow("CR anywhere is dropped") << QByteArray("JE\rDEC=C86018\r\r\n") << "JEDEC=C86018";
    QTest::newRow("Latin-1") << QByteArray("caf\xe9\n") << QString::fromLatin1("caf\xe9");
}

void TestSerialLink::readLine()
{
    QFETCH(QByteArray, sent);
    QFETCH(QString, expected);
    QVERIFY(send(sent + "NEXT\n"));
    QString line = QStringLiteral("unchanged");
    QVERIFY(m_link->readLine(2000, line));
    QCOMPARE(line, expected);
    QVERIFY(m_link->readLine(2000, line));
    QCOMPARE(line, QStringLiteral("NEXT"));
}

void TestSerialLink::partialLineAtTimeOutIsDiscarded()
{
    QVERIFY(send("PART"));
    QString line = QStringLiteral("unchanged");
    QVERIFY(!m_link->readLine(200, line));
    QCOMPARE(line, QStringLiteral("unchanged"));
    QVERIFY(send("NEXT\n"));
    QVERIFY(m_link->readLine(2000, line));
    QCOMPARE(line, QStringLiteral("NEXT"));
}

void TestSerialLink::zeroTimeOutTakesNothingAndClearInputDropsTheRest()
{
    QVERIFY(send("\xffstale\n"));
    QTest::qSleep(100); // let the bytes reach the port
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(m_link->readByte(0), -1);
    QVERIFY(timer.elapsed() < qvota::test::scaled_ms(500)); // at once, not after a time-out
    QCOMPARE(m_link->readByte(1000), 0xFF);
    m_link->clearInput();
    QCOMPARE(m_link->readByte(100), -1);
}

void TestSerialLink::waitsOutTheTimeOutWithoutSpinning_data()
{
    QTest::addColumn<bool>("hungUp");
    QTest::newRow("silent port") << false;
    QTest::newRow("hung-up port") << true;
}

void TestSerialLink::waitsOutTheTimeOutWithoutSpinning()
{
    QFETCH(bool, hungUp);
    if (hungUp)
        ::close(std::exchange(m_master, -1)); // the device vanished
    QElapsedTimer timer;
    timer.start();
    const qint64 cpuBefore = qvota::test::process_cpu_ms();
    QCOMPARE(m_link->readByte(500), -1);
    const qint64 cpuUsed = qvota::test::process_cpu_ms() - cpuBefore;
    const qint64 elapsed = timer.elapsed();
    if (hungUp) {
        // Nothing can come any more: said at once, and every later wait ends at once too.
        QVERIFY2(elapsed < qvota::test::scaled_ms(200), qPrintable(QString::number(elapsed)));
        QVERIFY2(m_link->failure().contains(QLatin1String("hung up")),
                 qPrintable(m_link->failure()));
        QString line;
        QVERIFY(!m_link->readLine(500, line));
        QVERIFY(timer.elapsed() < qvota::test::scaled_ms(200));
    } else {
        QVERIFY2(elapsed >= 500 && elapsed < 500 + qvota::test::scaled_ms(1000),
                 qPrintable(QString::number(elapsed)));
        QCOMPARE(m_link->failure(), QString());
    }
    QVERIFY2(cpuUsed < qvota::test::scaled_ms(100),
             qPrintable(QStringLiteral("%1 ms CPU in 500 ms").arg(cpuUsed)));
}

void TestSerialLink::reopenPausesAndEmptiesTheInput()
{
    // Bytes that reach the port while it is closed for the pause must not survive the reopen.
    std::thread board([this] {
        QTest::qSleep(1000);
        send("banner of the old session\n");
    });
    QElapsedTimer timer;
    timer.start();
    m_link->reopen();
    board.join(); // long done: it sends at 1 s into the 2 s pause
    QVERIFY2(timer.elapsed() >= 2000 && timer.elapsed() < 2000 + qvota::test::scaled_ms(3000),
             qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(m_link->readByte(200), -1);
    QVERIFY(send("Q"));
    QCOMPARE(m_link->readByte(2000), int('Q'));
}

void TestSerialLink::openFailsAfterTwentyAttempts()
{
    const QString port = QStringLiteral("/dev/does-not-exist-qvota-%1").arg(::getpid());
    SerialLink link(port, 115200);
    QString error;
    QElapsedTimer timer;
    timer.start();
    QVERIFY(!(error = link.open().message()).isEmpty());
    // 20 attempts with a 500 ms pause after each.
    QVERIFY2(timer.elapsed() >= 9500 && timer.elapsed() < 9500 + qvota::test::scaled_ms(10000),
             qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(error, QStringLiteral("cannot open %1").arg(port));
}

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_seriallink.moc"
