// Complete command-line updates against the board simulator, over UDP and a pseudo-terminal:
// exit code, the transcript line by line, and what the simulator recorded of the host's sends.
#include "boardsim.h"
#include "container.h"
#include "processrun.h"
#include "testimages.h"
#include "transcript.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

using namespace qvota::test;
using namespace Qt::StringLiterals;

namespace {

constexpr int PLAIN_SIZE = 3000;

} // namespace

class TestCliUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void successfulUpdates_data();
    void successfulUpdates();
    void boardRefusals_data();
    void boardRefusals();
    void repliesFromAnotherHostAreIgnored();
    void closedOutputDoesNotEndTheUpdate();

private:
    ProcessResult runUdp(const BoardSim &sim, const QStringList &extra = {});
    QStringList successHead(const QString &linkLine) const;
    QStringList verifiedTail() const;

    QTemporaryDir m_dir;
    QString m_image;
    QString m_crcLower;
    int m_frames = 0;
    int m_last = 0;
};

void TestCliUpdate::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QByteArray plain = pattern_bytes(PLAIN_SIZE, 7);
    const QByteArray container = pack_with_sim(plain);
    QCOMPARE(container.size(), PLAIN_SIZE + 36);
    m_image = write_file(m_dir, QStringLiteral("image.qvbit"), container);
    QVERIFY(!m_image.isEmpty());
    m_crcLower = QStringLiteral("%1").arg(qvota::crc32(plain), 8, 16, QLatin1Char('0'));
    // The whole container is sent: header included.
    m_frames = (container.size() + 255) / 256;
    m_last = container.size() % 256 ? container.size() % 256 : 256;
}

ProcessResult TestCliUpdate::runUdp(const BoardSim &sim, const QStringList &extra)
{
    return run_process(QStringLiteral(QVOTA_APP_EXE),
                       QStringList{u"--cli"_s, u"--transport"_s, u"udp"_s, u"--ip"_s,
                                   u"127.0.0.1"_s, u"--udp-port"_s, QString::number(sim.udpPort()),
                                   u"--host-ip"_s, u"127.0.0.1"_s, u"--host-port"_s, u"0"_s,
                                   u"--file"_s, m_image}
                           + extra,
                       90000);
}

QStringList TestCliUpdate::successHead(const QString &linkLine) const
{
    return {lit(QStringLiteral("qvbit v2 OK: plain=%1 crc32=%2 (on-chip decrypt)")
                    .arg(PLAIN_SIZE)
                    .arg(m_crcLower.toUpper())),
            lit(linkLine),
            lit(u"file="_s + m_image),
            lit(QStringLiteral("len=%1 frames=%2 last=%3 crc32=%4 (plaintext, on-chip decrypt)")
                    .arg(PLAIN_SIZE + 36)
                    .arg(m_frames)
                    .arg(m_last)
                    .arg(m_crcLower)),
            lit(u"RX> JEDEC=C86018"_s),
            lit(QStringLiteral("TX> U len=%1 (erasing APP2 slot...)").arg(PLAIN_SIZE + 36)),
            uR"(RX> READY \(erase \d+\.\ds\))"_s,
            lit(QStringLiteral("progress 1/%1 (%2%)").arg(m_frames).arg(100 / m_frames)),
            uR"(transfer done in \d+\.\ds \(\d+ B/s\))"_s};
}

QStringList TestCliUpdate::verifiedTail() const
{
    return {u"RX> RXDONE CRC32=(?i)"_s + m_crcLower, lit(u"RX CRC32 match"_s),
            u"RX> IMGCRC=(?i)"_s + m_crcLower,
            lit(u"IMG CRC32 (flash readback) MATCH - OTA WRITE VERIFIED"_s)};
}

void TestCliUpdate::successfulUpdates_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QStringList>("hostArgs");
    QTest::addColumn<QStringList>("tail"); // what follows the readback match
    QTest::addColumn<QJsonArray>("targets");
    QTest::addColumn<int>("warmBoots");

    const QString reopen =
        lit(QStringLiteral("reopen transport before warm boot (XREQ-19 mitigation)"));
    QTest::newRow("udp, no warm boot")
        << false << QStringList() << QStringList() << QStringList{lit(u"OTA FLOW COMPLETE"_s)}
        << QJsonArray() << 0;
    // Listening after the warm-boot command lasts its full window, about 8 s.
    QTest::newRow("udp, warm boot to target 2")
        << false << QStringList() << QStringList{u"--target"_s, u"2"_s}
        << QStringList{reopen,
                       lit(u"TX> 2 (select warm boot target)"_s),
                       lit(u"TX> b (warm boot)"_s),
                       lit(u"RX> QUELVANE APP2 running (warm boot)"_s),
                       lit(u"WARM BOOT OK: QUELVANE APP2 running (warm boot)"_s),
                       lit(u"OTA FLOW COMPLETE"_s)}
        << QJsonArray{u"2"_s} << 1;
    // The port is closed and reopened before the warm boot; a silent board is only a warning.
    QTest::newRow("serial at 921600, warm boot without answer")
        << true << QStringList{u"--baud"_s, u"921600"_s, u"--no-banner"_s}
        << QStringList{u"--baud"_s, u"921600"_s, u"--warm-boot"_s}
        << QStringList{reopen, lit(u"TX> b (warm boot)"_s),
                       lit(u"WARM BOOT OK: WARN: no warm-boot ack seen"_s),
                       lit(u"OTA FLOW COMPLETE"_s)}
        << QJsonArray() << 1;
}

void TestCliUpdate::successfulUpdates()
{
    QFETCH(bool, serial);
    QFETCH(QStringList, simArgs);
    QFETCH(QStringList, hostArgs);
    QFETCH(QStringList, tail);
    QFETCH(QJsonArray, targets);
    QFETCH(int, warmBoots);

    BoardSim sim;
    QVERIFY2(serial ? sim.startPty(simArgs) : sim.startUdp(simArgs), qPrintable(sim.log()));
    QString linkLine;
    ProcessResult r;
    if (serial) {
        linkLine = QStringLiteral("opened %1 @921600").arg(sim.ptyPath());
        r = run_process(QStringLiteral(QVOTA_APP_EXE),
                        QStringList{u"--cli"_s, u"--transport"_s, u"uart"_s, u"--port"_s,
                                    sim.ptyPath(), u"--file"_s, m_image}
                            + hostArgs,
                        90000);
    } else {
        linkLine = QStringLiteral("udp 127.0.0.1:%1 <- 127.0.0.1:0").arg(sim.udpPort());
        r = runUdp(sim, hostArgs);
    }
    const QJsonObject record = sim.stop();

    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    const Transcript t = read_transcript(r.outLines(), 3);
    QVERIFY2(t.problem.isEmpty(), qPrintable(t.problem));
    const QString diff = match_lines(t.lines, successHead(linkLine) + verifiedTail() + tail);
    QVERIFY2(diff.isEmpty(), qPrintable(diff + QLatin1Char('\n') + QString::fromUtf8(r.out)));

    QCOMPARE(record.value(QStringLiteral("identify")).toInt(), 1);
    QCOMPARE(record_ints(record, QStringLiteral("erase")), QList<int>{PLAIN_SIZE + 36});
    QCOMPARE(record_ints(record, QStringLiteral("frames")), index_range(m_frames));
    QCOMPARE(record.value(QStringLiteral("readback")).toInt(), 1);
    QCOMPARE(record.value(QStringLiteral("targets")).toArray(), targets);
    QCOMPARE(record.value(QStringLiteral("warmBoot")).toInt(), warmBoots);
}

void TestCliUpdate::boardRefusals_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("lastLog"); // pattern of the last stamped line
    QTest::addColumn<QString>("error");   // pattern of the ERROR line
    QTest::addColumn<int>("framesSent");  // frames the simulator saw, -1: all
    QTest::addColumn<int>("readbacks");

    QTest::newRow("erase refused")
        << QStringList{u"--erase-reply"_s, u"ERASE FAIL"_s}
        << lit(QStringLiteral("TX> U len=3036 (erasing APP2 slot...)"))
        << lit(QStringLiteral("ERROR: expected READY after erase, got 'ERASE FAIL'")) << 0 << 0;
    QTest::newRow("receive CRC mismatch")
        << QStringList{u"--bad-rx-crc"_s} << QStringLiteral("RX> RXDONE CRC32=[0-9a-fA-F]{8}")
        << QStringLiteral("ERROR: RX CRC32 mismatch rx=[0-9a-f]{8} file=[0-9a-f ]{8}") << -1 << 0;
    QTest::newRow("readback CRC mismatch")
        << QStringList{u"--bad-img-crc"_s} << QStringLiteral("RX> IMGCRC=[0-9a-fA-F]{8}")
        << QStringLiteral("ERROR: IMG CRC32 mismatch img=[0-9a-f]{8} file=[0-9a-f ]{8}") << -1 << 1;
}

void TestCliUpdate::boardRefusals()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QString, lastLog);
    QFETCH(QString, error);
    QFETCH(int, framesSent);
    QFETCH(int, readbacks);

    BoardSim sim;
    QVERIFY2(sim.startUdp(simArgs), qPrintable(sim.log()));
    const ProcessResult r = runUdp(sim, {u"--warm-boot"_s});
    const QJsonObject record = sim.stop();

    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    const Transcript t = read_transcript(r.outLines(), 3);
    QVERIFY2(t.problem.isEmpty(), qPrintable(t.problem));
    QVERIFY(t.lines.size() >= 5);
    const QString diff = match_lines(t.lines.mid(t.lines.size() - 2), {lastLog, error});
    QVERIFY2(diff.isEmpty(), qPrintable(diff + QLatin1Char('\n') + QString::fromUtf8(r.out)));
    // The board is told nothing more after a failure: no readback after a receive mismatch,
    // and never a warm boot.
    QCOMPARE(record_ints(record, QStringLiteral("frames")).size(),
             framesSent < 0 ? m_frames : framesSent);
    QCOMPARE(record.value(QStringLiteral("readback")).toInt(), readbacks);
    QCOMPARE(record.value(QStringLiteral("warmBoot")).toInt(), 0);
}

void TestCliUpdate::repliesFromAnotherHostAreIgnored()
{
    // A board whose flash holds something wrong, and another host that keeps sending what a
    // good board would: acks, both CRC lines with the right value, READY. Heard, it would turn
    // the failure into a verified update.
    BoardSim sim;
    QVERIFY2(sim.startUdp({u"--bad-img-crc"_s}), qPrintable(sim.log()));
    QUdpSocket probe;
    QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
    const quint16 hostPort = probe.localPort();
    probe.close();
    QUdpSocket spoofer;
    QVERIFY(spoofer.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
    const QByteArray lies = "K\r\nREADY\r\nRXDONE CRC32=" + m_crcLower.toLatin1()
                            + "\nIMGCRC=" + m_crcLower.toLatin1() + "\r\n";
    QTimer blaster;
    int sent = 0;
    connect(&blaster, &QTimer::timeout, this,
            [&] { sent += spoofer.writeDatagram(lies, QHostAddress::LocalHost, hostPort) > 0; });
    blaster.start(2);

    QProcess host;
    host.start(QStringLiteral(QVOTA_APP_EXE),
               {u"--cli"_s, u"--transport"_s, u"udp"_s, u"--ip"_s, u"127.0.0.1"_s, u"--udp-port"_s,
                QString::number(sim.udpPort()), u"--host-ip"_s, u"127.0.0.1"_s, u"--host-port"_s,
                QString::number(hostPort), u"--file"_s, m_image});
    QTRY_VERIFY_WITH_TIMEOUT(host.state() == QProcess::NotRunning, 60000);
    blaster.stop();
    const QStringList lines = QString::fromUtf8(host.readAllStandardOutput())
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(host.exitCode(), 1);
    QVERIFY(sent > 0);
    QVERIFY2(lines.last().startsWith(QLatin1String("ERROR: IMG CRC32 mismatch")),
             qPrintable(lines.join(QLatin1Char('\n'))));
    const QString note = strip_time_stamp(lines.at(lines.size() - 2));
    QVERIFY2(QRegularExpression(
                 QStringLiteral("^udp: ignored [1-9][0-9]* datagram\\(s\\) from senders other than "
                                "the board 127\\.0\\.0\\.1$"))
                 .match(note)
                 .hasMatch(),
             qPrintable(note));
}

void TestCliUpdate::closedOutputDoesNotEndTheUpdate()
{
    // "| head -3": the reader goes away after the first lines, while the board erases.
    BoardSim sim;
    QVERIFY2(sim.startUdp({u"--erase-ms"_s, u"500"_s}), qPrintable(sim.log()));
    const ProcessResult r = run_process(
        u"bash"_s,
        {u"-c"_s, u"\"$@\" | head -3; exit \"${PIPESTATUS[0]}\""_s, u"bash"_s,
         QStringLiteral(QVOTA_APP_EXE), u"--cli"_s, u"--transport"_s, u"udp"_s, u"--ip"_s,
         u"127.0.0.1"_s, u"--udp-port"_s, QString::number(sim.udpPort()), u"--host-ip"_s,
         u"127.0.0.1"_s, u"--host-port"_s, u"0"_s, u"--file"_s, m_image},
        60000);
    QVERIFY(r.finished);
    QCOMPARE(r.outLines().size(), 3);
    QCOMPARE(r.exitCode, 0);
    const QJsonObject record = sim.stop();
    QCOMPARE(record.value(u"updates"_s).toInt(), 1);
    QCOMPARE(record.value(u"lastRxCrc"_s).toString().toLower(), m_crcLower);
}

QTEST_GUILESS_MAIN(TestCliUpdate)
#include "tst_cli_update.moc"
