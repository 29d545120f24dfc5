// Command-line updates that end in one of the protocol's fixed time-outs (3 s identify windows,
// 15 s acknowledgement waits). Each case needs its own wait, so all cases run at the same time
// against simulators of their own, and the checks follow once every run has ended.
#include "boardsim.h"
#include "processrun.h"
#include "testimages.h"
#include "transcript.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

using namespace qvota::test;
using namespace Qt::StringLiterals;

namespace {

struct FaultCase
{
    QString name;
    bool pty;
    QStringList simArgs;
    QStringList hostArgs;
    QStringList tailPatterns; // the transcript's last lines, stamps removed
    QList<int> frames;        // what the simulator saw, in order; empty list: not checked
    int identify;             // "j" commands the simulator saw
    qint64 minMs;             // the fixed waits the run must have sat through
};

struct Running
{
    FaultCase fault;
    std::unique_ptr<BoardSim> sim;
    std::unique_ptr<QProcess> host;
    QElapsedTimer timer;
    qint64 elapsedMs = 0;
};

} // namespace

class TestCliFaults : public QObject
{
    Q_OBJECT

private slots:
    void faultsThatWaitForTimeOuts();
};

void TestCliFaults::faultsThatWaitForTimeOuts()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // 2000 plain bytes: a 2036-byte container, 8 frames.
    const QString image =
        write_file(dir, QStringLiteral("image.qvbit"), pack_with_sim(pattern_bytes(2000, 3)));
    QVERIFY(!image.isEmpty());

    QStringList identifyLog;
    for (int t = 1; t <= 5; ++t)
        identifyLog << lit(QStringLiteral("RX> JEDEC=EF4018"))
                    << lit(QStringLiteral("jedec timeout try %1/5").arg(t));

    const QList<FaultCase> cases{
        {u"wrong flash id"_s,
         false,
         {u"--jedec"_s, u"EF4018"_s},
         {},
         identifyLog.mid(identifyLog.size() - 2)
             + QStringList{lit(u"ERROR: JEDEC check failed (board not in OTA image or flash "
                               "unreadable)"_s)},
         {},
         5,
         0},
        // A board that stays silent costs each try its whole 3 s window.
        {u"board silent at first"_s,
         false,
         {u"--silent-identify"_s, u"2"_s},
         {},
         {lit(u"OTA FLOW COMPLETE"_s)},
         index_range(8),
         3,
         2 * 3000 - 300},
        {u"lost ack is retried"_s,
         false,
         {u"--drop-ack"_s, u"2"_s},
         {},
         {lit(u"IMG CRC32 (flash readback) MATCH - OTA WRITE VERIFIED"_s),
          lit(u"OTA FLOW COMPLETE"_s)},
         {0, 1, 2, 2, 3, 4, 5, 6, 7},
         1,
         15000 - 500},
        {u"frame never acked"_s,
         false,
         {u"--never-ack"_s, u"3"_s},
         {u"--retries"_s, u"2"_s},
         {lit(u"frame 3 try 1: ack timeout"_s), lit(u"frame 3 try 2: ack timeout"_s),
          lit(u"ERROR: frame 3 failed after 2 tries"_s)},
         {0, 1, 2, 3, 3},
         1,
         2 * 15000 - 500},
        // A port that hangs up is named at once instead of being waited out.
        {u"serial link dropped"_s,
         true,
         {u"--drop-link-at"_s, u"4"_s},
         {u"--retries"_s, u"1"_s},
         {lit(u"progress 1/8 (12%)"_s),
          uR"(ERROR: serial port /dev/\S+ lost: the device hung up \(unplugged, or its other end closed\))"_s},
         {},
         1,
         0},
        {u"udp board goes silent"_s,
         false,
         {u"--drop-link-at"_s, u"4"_s},
         {u"--retries"_s, u"1"_s},
         {lit(u"frame 4 try 1: ack timeout"_s), lit(u"ERROR: frame 4 failed after 1 tries"_s)},
         {0, 1, 2, 3, 4},
         1,
         15000 - 500},
        // The reset's boot banner is no acknowledgement; the frames that follow reach a board
        // that has forgotten the transfer.
        {u"board reset"_s,
         false,
         {u"--reset-at"_s, u"5"_s},
         {u"--retries"_s, u"2"_s},
         {lit(u"frame 5 try 1: ack timeout"_s), lit(u"frame 5 try 2: ack timeout"_s),
          uR"(note: skipped \d+ non-ack byte\(s\) at frame 5)"_s,
          lit(u"ERROR: frame 5 failed after 2 tries"_s)},
         {},
         1,
         2 * 15000 - 500},
    };

    std::vector<Running> runs;
    for (const FaultCase &fault : cases) {
        Running run{fault, std::make_unique<BoardSim>(), std::make_unique<QProcess>(), {}, 0};
        const bool started =
            fault.pty ? run.sim->startPty(fault.simArgs) : run.sim->startUdp(fault.simArgs);
        QVERIFY2(started, qPrintable(fault.name + QStringLiteral(": ") + run.sim->log()));
        QStringList arguments{u"--cli"_s, u"--file"_s, image};
        if (fault.pty)
            arguments << u"--transport"_s << u"uart"_s << u"--port"_s << run.sim->ptyPath();
        else
            arguments << u"--transport"_s << u"udp"_s << u"--ip"_s << u"127.0.0.1"_s
                      << u"--udp-port"_s << QString::number(run.sim->udpPort()) << u"--host-ip"_s
                      << u"127.0.0.1"_s << u"--host-port"_s << u"0"_s;
        run.timer.start();
        run.host->start(QStringLiteral(QVOTA_APP_EXE), arguments + fault.hostArgs);
        QVERIFY(run.host->waitForStarted(10000));
        runs.push_back(std::move(run));
    }

    for (Running &run : runs) {
        QVERIFY2(run.host->waitForFinished(120000), qPrintable(run.fault.name));
        run.elapsedMs = run.timer.elapsed();
    }

    for (Running &run : runs) {
        const FaultCase &fault = run.fault;
        const QJsonObject record = run.sim->stop();
        ProcessResult result;
        result.out = run.host->readAllStandardOutput();
        const bool success = fault.tailPatterns.last() == lit(QStringLiteral("OTA FLOW COMPLETE"));
        QVERIFY2(run.host->exitCode() == (success ? 0 : 1), qPrintable(fault.name));

        const Transcript t = read_transcript(result.outLines(), 3);
        QVERIFY2(t.problem.isEmpty(), qPrintable(fault.name + QStringLiteral(": ") + t.problem));
        const qsizetype n = fault.tailPatterns.size();
        QVERIFY2(t.lines.size() > n,
                 qPrintable(fault.name + QLatin1Char('\n') + QString::fromUtf8(result.out)));
        const QString diff = match_lines(t.lines.mid(t.lines.size() - n), fault.tailPatterns);
        QVERIFY2(diff.isEmpty(), qPrintable(fault.name + QStringLiteral(": ") + diff
                                            + QLatin1Char('\n') + QString::fromUtf8(result.out)));

        QVERIFY2(run.elapsedMs >= fault.minMs,
                 qPrintable(fault.name + QStringLiteral(": %1 ms").arg(run.elapsedMs)));
        QCOMPARE(record.value(QStringLiteral("identify")).toInt(), fault.identify);
        if (!fault.frames.isEmpty())
            QVERIFY2(record_ints(record, QStringLiteral("frames")) == fault.frames,
                     qPrintable(fault.name + QStringLiteral(": ") + run.sim->log()));
        // Nothing after a failure: no readback, no warm boot.
        QCOMPARE(record.value(QStringLiteral("readback")).toInt(), success ? 1 : 0);
    }
}

QTEST_GUILESS_MAIN(TestCliFaults)
#include "tst_cli_faults.moc"
