// The controller's two threads against a board played by a thread of this process, so that the
// run involves no child process at all: ThreadSanitizer loses track of a process that has
// started one, and this is the test that lets it watch the worker and the GUI thread meet.
#include "otacontroller.h"
#include "testimages.h"
#include "threadboard.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using qvota::OtaController;
using qvota::test::ThreadBoard;
using namespace Qt::StringLiterals;

class TestControllerThreads : public QObject
{
    Q_OBJECT

private slots:
    void runsAndCancelsAcrossThreads();
};

void TestControllerThreads::runsAndCancelsAcrossThreads()
{
    QTemporaryDir dir;
    const QString file = qvota::test::write_file(
        dir, QStringLiteral("image.qvbit"),
        qvota::test::make_container(qvota::test::pattern_bytes(60000), 0x1234abcd));
    QVERIFY(!file.isEmpty());
    ThreadBoard board;
    const QVariantMap cfg{{u"transport"_s, u"udp"_s},   {u"ip"_s, u"127.0.0.1"_s},
                          {u"udpPort"_s, board.port()}, {u"hostIp"_s, u"127.0.0.1"_s},
                          {u"hostPort"_s, 0},           {u"file"_s, file}};

    OtaController controller;
    QSignalSpy finished(&controller, &OtaController::otaFinished);
    QSignalSpy lines(&controller, &OtaController::logAppended);
    controller.start(cfg);
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.first().at(0).toBool(), true);
    QCOMPARE(controller.progressDone(), (60036 + 255) / 256);
    QCOMPARE(controller.progressTotal(), controller.progressDone());
    QVERIFY(lines.last().at(0).toString().endsWith(QLatin1String(" OTA FLOW COMPLETE")));

    // A second run, cancelled from the GUI thread while the board holds the ack of frame 5:
    // the flow sees the cancel before frame 6, however slow the machine.
    board.holdAckOf(5);
    controller.start(cfg);
    QVERIFY(board.waitUntilHolding(20000));
    controller.cancel();
    board.release();
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.count(), 2);
    QCOMPARE(finished.last().at(1).toString(), QStringLiteral("cancelled by user"));
    QVERIFY(!controller.running());
    QCOMPARE(board.framesSeen(), (60036 + 255) / 256 + 6);
}

QTEST_GUILESS_MAIN(TestControllerThreads)
#include "tst_controllerthreads.moc"
