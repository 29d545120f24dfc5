// Complete command-line updates against the board simulator, over UDP and a pseudo-terminal:
// exit code, the transcript line by line, and what the simulator recorded of the host's sends.
#include "boardsim.h"
#include "container.h"
#include "processrun.h"
#include "testimages.h"
#include "transcript.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace qvota::test;

namespace {

constexpr int plainSize = 3000;

QList<int> json_ints(const QJsonValue &value)
{
    QList<int> list;
    for (const QJsonValue &v : value.toArray())
        list.append(v.toInt());
    return list;
}

QList<int> range(int count)
{
    QList<int> list;
    for (int i = 0; i < count; ++i)
        list.append(i);
    return list;
}

} // namespace

class TestCliUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void udpWithoutWarmBoot();
    void udpWarmBootToTarget();
    void serialWithWarmBoot();
    void boardRefusals_data();
    void boardRefusals();

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
    const QByteArray plain = pattern_bytes(plainSize, 7);
    const QByteArray container = pack_with_sim(plain);
    QCOMPARE(container.size(), plainSize + 36);
    m_image = write_file(m_dir, "image.qvbit", container);
    QVERIFY(!m_image.isEmpty());
    m_crcLower = QStringLiteral("%1").arg(qvota::crc32(plain), 8, 16, QLatin1Char('0'));
    // The whole container is sent: header included.
    m_frames = (container.size() + 255) / 256;
    m_last = container.size() % 256 ? container.size() % 256 : 256;
}

ProcessResult TestCliUpdate::runUdp(const BoardSim &sim, const QStringList &extra)
{
    return run_process(QStringLiteral(QVOTA_APP_EXE),
                       QStringList{"--cli", "--transport", "udp", "--ip", "127.0.0.1",
                                   "--udp-port", QString::number(sim.udpPort()), "--host-ip",
                                   "127.0.0.1", "--host-port", "0", "--file", m_image}
                           + extra,
                       90000);
}

QStringList TestCliUpdate::successHead(const QString &linkLine) const
{
    return {lit(QStringLiteral("qvbit v2 OK: plain=%1 crc32=%2 (on-chip decrypt)")
                    .arg(plainSize)
                    .arg(m_crcLower.toUpper())),
            lit(linkLine),
            lit("file=" + m_image),
            lit(QStringLiteral("len=%1 frames=%2 last=%3 crc32=%4 (plaintext, on-chip decrypt)")
                    .arg(plainSize + 36)
                    .arg(m_frames)
                    .arg(m_last)
                    .arg(m_crcLower)),
            lit("RX> JEDEC=C86018"),
            lit(QStringLiteral("TX> U len=%1 (erasing APP2 slot...)").arg(plainSize + 36)),
            R"(RX> READY \(erase \d+\.\ds\))",
            lit(QStringLiteral("progress 1/%1 (%2%)").arg(m_frames).arg(100 / m_frames)),
            R"(transfer done in \d+\.\ds \(\d+ B/s\))"};
}

QStringList TestCliUpdate::verifiedTail() const
{
    return {"RX> RXDONE CRC32=(?i)" + m_crcLower, lit("RX CRC32 match"),
            "RX> IMGCRC=(?i)" + m_crcLower,
            lit("IMG CRC32 (flash readback) MATCH - OTA WRITE VERIFIED")};
}

void TestCliUpdate::udpWithoutWarmBoot()
{
    BoardSim sim;
    QVERIFY2(sim.startUdp(), qPrintable(sim.log()));
    const ProcessResult r = runUdp(sim);
    const QJsonObject record = sim.stop();

    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    const Transcript t = read_transcript(r.outLines(), 3);
    QVERIFY2(t.problem.isEmpty(), qPrintable(t.problem));
    const QString linkLine =
        QStringLiteral("udp 127.0.0.1:%1 <- 127.0.0.1:0").arg(sim.udpPort());
    const QStringList expected = successHead(linkLine) + verifiedTail()
                                 + QStringList{lit("OTA FLOW COMPLETE")};
    const QString diff = match_lines(t.lines, expected);
    QVERIFY2(diff.isEmpty(), qPrintable(diff + "\n" + r.out));

    QCOMPARE(record.value("identify").toInt(), 1);
    QCOMPARE(json_ints(record.value("erase")), QList<int>{plainSize + 36});
    QCOMPARE(json_ints(record.value("frames")), range(m_frames));
    QCOMPARE(record.value("readback").toInt(), 1);
    QCOMPARE(record.value("warmBoot").toInt(), 0);
}

void TestCliUpdate::udpWarmBootToTarget()
{
    BoardSim sim;
    QVERIFY2(sim.startUdp(), qPrintable(sim.log()));
    // Listening after the warm-boot command lasts its full window, about 8 s.
    const ProcessResult r = runUdp(sim, {"--target", "2"});
    const QJsonObject record = sim.stop();

    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    const Transcript t = read_transcript(r.outLines(), 3);
    QVERIFY2(t.problem.isEmpty(), qPrintable(t.problem));
    const QStringList expected =
        successHead(QStringLiteral("udp 127.0.0.1:%1 <- 127.0.0.1:0").arg(sim.udpPort()))
        + verifiedTail()
        + QStringList{lit("reopen transport before warm boot (XREQ-19 mitigation)"),
                      lit("TX> 2 (select warm boot target)"), lit("TX> b (warm boot)"),
                      lit("RX> QUELVANE APP2 running (warm boot)"),
                      lit("WARM BOOT OK: QUELVANE APP2 running (warm boot)"),
                      lit("OTA FLOW COMPLETE")};
    const QString diff = match_lines(t.lines, expected);
    QVERIFY2(diff.isEmpty(), qPrintable(diff + "\n" + r.out));
    QCOMPARE(record.value("targets").toArray(), QJsonArray{"2"});
    QCOMPARE(record.value("warmBoot").toInt(), 1);
}

void TestCliUpdate::serialWithWarmBoot()
{
    BoardSim sim;
    QVERIFY2(sim.startPty({"--baud", "921600", "--no-banner"}), qPrintable(sim.log()));
    const ProcessResult r = run_process(
        QStringLiteral(QVOTA_APP_EXE),
        {"--cli", "--transport", "uart", "--port", sim.ptyPath(), "--baud", "921600",
         "--warm-boot", "--file", m_image},
        90000);
    const QJsonObject record = sim.stop();

    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    const Transcript t = read_transcript(r.outLines(), 3);
    QVERIFY2(t.problem.isEmpty(), qPrintable(t.problem));
    // The port is reopened before the warm boot; a board that stays silent is only a warning.
    const QStringList expected =
        successHead(QStringLiteral("opened %1 @921600").arg(sim.ptyPath())) + verifiedTail()
        + QStringList{lit("reopen transport before warm boot (XREQ-19 mitigation)"),
                      lit("TX> b (warm boot)"), lit("WARM BOOT OK: WARN: no warm-boot ack seen"),
                      lit("OTA FLOW COMPLETE")};
    const QString diff = match_lines(t.lines, expected);
    QVERIFY2(diff.isEmpty(), qPrintable(diff + "\n" + r.out));
    QCOMPARE(json_ints(record.value("frames")), range(m_frames));
    QCOMPARE(record.value("targets").toArray(), QJsonArray());
    QCOMPARE(record.value("warmBoot").toInt(), 1);
}

void TestCliUpdate::boardRefusals_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("lastLog");    // pattern of the last stamped line
    QTest::addColumn<QString>("error");      // pattern of the ERROR line
    QTest::addColumn<int>("framesSent");     // frames the simulator saw, -1: all
    QTest::addColumn<int>("readbacks");

    QTest::newRow("erase refused")
        << QStringList{"--erase-reply", "ERASE FAIL"}
        << lit("TX> U len=3036 (erasing APP2 slot...)")
        << lit("ERROR: expected READY after erase, got 'ERASE FAIL'") << 0 << 0;
    QTest::newRow("receive CRC mismatch")
        << QStringList{"--bad-rx-crc"} << "RX> RXDONE CRC32=[0-9a-fA-F]{8}"
        << "ERROR: RX CRC32 mismatch rx=[0-9a-f]{8} file=[0-9a-f ]{8}" << -1 << 0;
    QTest::newRow("readback CRC mismatch")
        << QStringList{"--bad-img-crc"} << "RX> IMGCRC=[0-9a-fA-F]{8}"
        << "ERROR: IMG CRC32 mismatch img=[0-9a-f]{8} file=[0-9a-f ]{8}" << -1 << 1;
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
    const ProcessResult r = runUdp(sim, {"--warm-boot"});
    const QJsonObject record = sim.stop();

    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    const Transcript t = read_transcript(r.outLines(), 3);
    QVERIFY2(t.problem.isEmpty(), qPrintable(t.problem));
    QVERIFY(t.lines.size() >= 5);
    const QString diff = match_lines(t.lines.mid(t.lines.size() - 2), {lastLog, error});
    QVERIFY2(diff.isEmpty(), qPrintable(diff + "\n" + r.out));
    // The board is told nothing more after a failure: no readback after a receive mismatch,
    // and never a warm boot.
    QCOMPARE(json_ints(record.value("frames")).size(), framesSent < 0 ? m_frames : framesSent);
    QCOMPARE(record.value("readback").toInt(), readbacks);
    QCOMPARE(record.value("warmBoot").toInt(), 0);
}

QTEST_GUILESS_MAIN(TestCliUpdate)
#include "tst_cli_update.moc"
