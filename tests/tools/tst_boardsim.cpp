// The board simulator: its protocol engine, cipher and UART pacing directly, and the running
// executable through the real UDP and serial links.
#include "boardsim.h"
#include "cipher.h"
#include "container.h"
#include "otaflow.h"
#include "processrun.h"
#include "protocolengine.h"
#include "seriallink.h"
#include "simconfig.h"
#include "testimages.h"
#include "uartpacer.h"
#include "udplink.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <memory>

#ifdef Q_OS_UNIX
#    include <csignal>
#endif

using namespace qvota;
using namespace qvota::sim;
using qvota::test::BoardSim;

namespace {

// How long a test waits to conclude that the simulator sends nothing. Any reply it does send
// on loopback comes within a few milliseconds.
constexpr int SILENCE_MS = 150;
constexpr int REPLY_MS = 3000;

QByteArray erase_command(quint32 length)
{
    char field[4];
    qToLittleEndian<quint32>(length, field);
    return QByteArray("U") + QByteArray(field, 4);
}

QString hex8(quint32 value)
{
    return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0'));
}

QByteArray rxdone_line(quint32 crc, const char *end = "\r\n")
{
    return "RXDONE CRC32=" + hex8(crc).toLatin1() + end;
}

int frame_count(qsizetype size)
{
    return int((size + FRAME_PAYLOAD - 1) / FRAME_PAYLOAD);
}

QByteArray corrupt_crc(QByteArray frame)
{
    frame[frame.size() - 1] = char(frame[frame.size() - 1] ^ 0x01);
    return frame;
}

// What the engine sends, with a hang-up shown in place.
QByteArray render(const Actions &actions)
{
    QByteArray out;
    for (const Action &action : actions)
        out += action.kind == Action::Kind::HangUp ? QByteArray("<hangup>") : action.bytes;
    return out;
}

QList<int> json_ints(const QJsonValue &value)
{
    QList<int> ints;
    const QJsonArray array = value.toArray();
    for (const QJsonValue &entry : array)
        ints.append(entry.toInt(-1));
    return ints;
}

QList<int> iota(int count)
{
    QList<int> ints;
    for (int i = 0; i < count; ++i)
        ints.append(i);
    return ints;
}

// An engine with a captured log, configured from serve arguments.
class EngineHarness
{
public:
    explicit EngineHarness(const QStringList &args = {})
    {
        QString error;
        parsed = parse_serve_args(args, &config, &error);
        engine =
            std::make_unique<ProtocolEngine>(config, [this](const QString &line) { log << line; });
    }

    QByteArray stream(const QByteArray &bytes) { return render(engine->feedStream(bytes)); }
    QByteArray datagram(const QByteArray &bytes) { return render(engine->feedDatagram(bytes)); }
    QByteArray send(const QByteArray &bytes, bool datagrams)
    {
        return datagrams ? datagram(bytes) : stream(bytes);
    }
    bool logHas(const QString &text) const
    {
        return std::any_of(log.cbegin(), log.cend(),
                           [&](const QString &line) { return line.contains(text); });
    }

    bool parsed = false;
    SimConfig config;
    QStringList log;
    std::unique_ptr<ProtocolEngine> engine;
};

// One step of a scripted exchange with the running simulator: what the host sends and what
// must come back (nothing, when empty).
struct Step
{
    QByteArray send;
    QByteArray expect;
};
using Script = QList<Step>;

// Reads exactly expected.size() bytes, or checks for silence when expected is empty.
QByteArray read_reply(Link &link, qsizetype expectedSize)
{
    QByteArray got;
    if (expectedSize == 0) {
        const int byte = link.readByte(SILENCE_MS);
        if (byte >= 0)
            got.append(char(byte));
        return got;
    }
    while (got.size() < expectedSize) {
        const int byte = link.readByte(REPLY_MS);
        if (byte < 0)
            break;
        got.append(char(byte));
    }
    return got;
}

struct FlowRun
{
    QString result;
    QStringList log;

    bool logHas(const QString &text) const
    {
        return std::any_of(log.cbegin(), log.cend(),
                           [&](const QString &line) { return line.contains(text); });
    }
};

FlowRun run_flow(Link &link, const QByteArray &container, quint32 plainCrc, OtaConfig config = {})
{
    FlowRun run;
    config.expectedCrc32 = plainCrc;
    OtaCallbacks callbacks;
    callbacks.log = [&run](const QString &line) { run.log << line; };
    run.result = run_update_flow(link, container, config, callbacks);
    return run;
}

// A UDP link to the simulator, bound to a free loopback port.
std::unique_ptr<UdpLink> open_udp_link(quint16 simPort)
{
    auto link = std::make_unique<UdpLink>(QStringLiteral("127.0.0.1"), simPort,
                                          QStringLiteral("127.0.0.1"), 0);
    if (!link->open(nullptr))
        return nullptr;
    return link;
}

} // namespace

Q_DECLARE_METATYPE(Script)

class TestBoardSim : public QObject
{
    Q_OBJECT

private slots:
    // The engine on its own
    void serveArgs_data();
    void serveArgs();
    void commandReplies_data();
    void commandReplies();
    void transfer_data();
    void transfer();
    void retryAndOrder_data();
    void retryAndOrder();
    void frameFaults_data();
    void frameFaults();
    void replyDelays();
    void datagramRules();
    void streamEdges();
    void cipher();
    void uartPacer();

    // The executable
    void packAndInfo();
    void readyLineAndCleanExit_data();
    void readyLineAndCleanExit();
    void udpUpdates();
    void faultsThroughFlow_data();
    void faultsThroughFlow();
    void linkScripts_data();
    void linkScripts();
    void garbageNeverCrashes();
    void ptyUpdateWithReopen();
    void ptyStreamResyncAndHangUp();
    void ptyBaudPacing();

private:
    const QByteArray m_plain = test::pattern_bytes(600, 7); // 636-byte container: 3 frames
    const QByteArray m_container = pack_container(m_plain, QByteArray(NONCE_SIZE, '\x5A'));
};

// --- The engine on its own --------------------------------------------------------------

void TestBoardSim::serveArgs_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("udpAddress");
    QTest::addColumn<int>("udpPort");
    QTest::addColumn<int>("dropAck");

    QTest::newRow("defaults") << QStringList{} << true << "127.0.0.1" << 7777 << -1;
    QTest::newRow("address and port")
        << QStringList{"--udp", "127.0.0.2:0"} << true << "127.0.0.2" << 0 << -1;
    QTest::newRow("bare port") << QStringList{"--udp", "9000"} << true << "127.0.0.1" << 9000 << -1;
    QTest::newRow("fault index") << QStringList{"--drop-ack", "12"} << true << "127.0.0.1" << 7777
                                 << 12;
    QTest::newRow("port too large")
        << QStringList{"--udp", "127.0.0.1:70000"} << false << "" << 0 << -1;
    QTest::newRow("port not a number")
        << QStringList{"--udp", "127.0.0.1:x"} << false << "" << 0 << -1;
    QTest::newRow("index not a number")
        << QStringList{"--drop-ack", "one"} << false << "" << 0 << -1;
    QTest::newRow("negative duration") << QStringList{"--erase-ms", "-1"} << false << "" << 0 << -1;
    QTest::newRow("udp and pty") << QStringList{"--udp", "127.0.0.1:0", "--pty"} << false << "" << 0
                                 << -1;
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << false << "" << 0 << -1;
    QTest::newRow("stray argument") << QStringList{"extra"} << false << "" << 0 << -1;
}

void TestBoardSim::serveArgs()
{
    QFETCH(QStringList, args);
    QFETCH(bool, ok);

    SimConfig config;
    QString error;
    QCOMPARE(parse_serve_args(args, &config, &error), ok);
    QCOMPARE(error.isEmpty(), ok);
    if (!ok)
        return;
    QTEST(config.udpAddress, "udpAddress");
    QTEST(int(config.udpPort), "udpPort");
    QTEST(config.faults.dropAck, "dropAck");
}

void TestBoardSim::commandReplies_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray jedec = "JEDEC=C86018\r\n";
    const QByteArray app1 = "QUELVANE APP1 running (warm boot)\r\n";
    const QByteArray app2 = "QUELVANE APP2 running (warm boot)\r\n";
    const QByteArray frameOfJs = build_frame(QByteArray(FRAME_PAYLOAD, 'j'), 0);

    QTest::newRow("identify") << QStringList{} << QByteArray("j") << jedec;
    QTest::newRow("other id") << QStringList{"--jedec", "EF4018"} << QByteArray("j")
                              << QByteArray("JEDEC=EF4018\r\n");
    QTest::newRow("stray bytes are ignored")
        << QStringList{} << QByteArray("xyz\r\n\x00j", 7) << jedec;
    QTest::newRow("silent identify")
        << QStringList{"--silent-identify", "2"} << QByteArray("jjj") << jedec;
    QTest::newRow("noise lines") << QStringList{"--noise-lines", "2"} << QByteArray("j")
                                 << QByteArray("BOOT: ota loader v2\r\nDBG: spi clk 25 MHz\r\n")
                                        + jedec;
    QTest::newRow("length 0") << QStringList{} << erase_command(0) << QByteArray("ERR len\r\n");
    QTest::newRow("length 2 MiB + 1")
        << QStringList{} << erase_command(0x200001) << QByteArray("ERR len\r\n");
    QTest::newRow("length 0xFFFFFFFF")
        << QStringList{} << erase_command(0xFFFFFFFF) << QByteArray("ERR len\r\n");
    QTest::newRow("bad length stays in command mode")
        << QStringList{} << erase_command(0) + "j" << QByteArray("ERR len\r\n") + jedec;
    QTest::newRow("length 2 MiB") << QStringList{} << erase_command(0x200000)
                                  << QByteArray("READY\r\n");
    QTest::newRow("length 1") << QStringList{} << erase_command(1) << QByteArray("READY\r\n");
    QTest::newRow("erase reply") << QStringList{"--erase-reply", "BUSY"} << erase_command(5)
                                 << QByteArray("BUSY\r\n");
    QTest::newRow("no erase reply")
        << QStringList{"--no-erase-reply"} << erase_command(5) << QByteArray();
    QTest::newRow("readback of an empty slot")
        << QStringList{} << QByteArray("F") << QByteArray("IMGCRC=00000000\r\n");
    QTest::newRow("APP1 by default") << QStringList{} << QByteArray("b") << app1;
    QTest::newRow("target 2") << QStringList{} << QByteArray("2b") << app2;
    QTest::newRow("target holds for one boot") << QStringList{} << QByteArray("2bb") << app2 + app1;
    QTest::newRow("last target wins") << QStringList{} << QByteArray("21b") << app1;
    QTest::newRow("double banner") << QStringList{"--double-banner"} << QByteArray("2b")
                                   << QByteArray("WB->reboot\r\n") + app2;
    QTest::newRow("no banner") << QStringList{"--no-banner"} << QByteArray("2b") << QByteArray();
    // Without skipping it whole, the payload's 256 "j" would each be answered.
    QTest::newRow("frame outside a transfer") << QStringList{} << frameOfJs + "j" << jedec;
    QTest::newRow("lone AA") << QStringList{} << QByteArray("\xAAj") << jedec;
}

void TestBoardSim::commandReplies()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);

    EngineHarness whole(args);
    QVERIFY(whole.parsed);
    QCOMPARE(whole.stream(input), expected);

    // A UART cuts its stream anywhere: byte by byte must give the same replies.
    EngineHarness bytewise(args);
    QByteArray replies;
    for (const char byte : std::as_const(input))
        replies += bytewise.stream(QByteArray(1, byte));
    QCOMPARE(replies, expected);
}

void TestBoardSim::transfer_data()
{
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<bool>("packed");
    QTest::addColumn<int>(
        "chunk"); // stream cut into pieces of this size; 0: one datagram per frame
    QTest::addColumn<QByteArray>("garbage"); // before every frame

    const QByteArray noGarbage;
    for (const int size : {1, 220, 221, 1000}) {
        // Packed sizes 37, 256, 257 and 1036: one full frame, a one-byte last frame, several.
        const QByteArray plain = test::pattern_bytes(size, quint32(size));
        QTest::addRow("%d packed, datagrams", size) << plain << true << 0 << noGarbage;
        QTest::addRow("%d packed, stream at once", size) << plain << true << 100000 << noGarbage;
        QTest::addRow("%d packed, stream bytewise", size) << plain << true << 1 << noGarbage;
        QTest::addRow("%d packed, stream by 7", size) << plain << true << 7 << noGarbage;
    }
    QTest::newRow("plain image") << test::pattern_bytes(700, 3) << false << 100000 << noGarbage;
    QTest::newRow("garbage between frames")
        << test::pattern_bytes(700, 4) << true << 100000 << QByteArray("\x00\x13\xAA\x00zz", 6);
    QTest::newRow("garbage, bytewise")
        << test::pattern_bytes(700, 4) << true << 1 << QByteArray("\x00\x13\xAA\x00zz", 6);
}

void TestBoardSim::transfer()
{
    QFETCH(QByteArray, plain);
    QFETCH(bool, packed);
    QFETCH(int, chunk);
    QFETCH(QByteArray, garbage);

    const QByteArray image = packed ? pack_container(plain, random_nonce()) : plain;
    const int frames = frame_count(image.size());
    EngineHarness harness;
    QCOMPARE(harness.send(erase_command(quint32(image.size())), chunk == 0),
             QByteArray("READY\r\n"));

    QByteArray replies;
    if (chunk == 0) {
        for (int i = 0; i < frames; ++i)
            replies += harness.datagram(build_frame(image, i));
    } else {
        QByteArray input;
        for (int i = 0; i < frames; ++i)
            input += garbage + build_frame(image, i);
        for (qsizetype at = 0; at < input.size(); at += chunk)
            replies += harness.stream(input.mid(at, chunk));
    }
    // Whatever the host sent, the CRCs are those of the plain image.
    const quint32 plainCrc = crc32(plain);
    QCOMPARE(replies, QByteArray(frames, 'K') + rxdone_line(plainCrc));
    QCOMPARE(harness.send("F", chunk == 0), "IMGCRC=" + hex8(plainCrc).toLatin1() + "\r\n");

    const Record &record = harness.engine->record();
    QCOMPARE(record.frames, iota(frames));
    QCOMPARE(record.badFrames, 0);
    QCOMPARE(record.updates, 1);
    QCOMPARE(record.erase, QList<qint64>{image.size()});
    QCOMPARE(harness.logHas(QStringLiteral("not a QVBIT002 container")), !packed);
    QCOMPARE(harness.logHas(QStringLiteral("garbage")), !garbage.isEmpty());
}

void TestBoardSim::retryAndOrder_data()
{
    QTest::addColumn<bool>("datagrams");
    QTest::newRow("stream") << false;
    QTest::newRow("datagrams") << true;
}

void TestBoardSim::retryAndOrder()
{
    QFETCH(bool, datagrams);
    const QByteArray image = m_container;
    const auto frame = [&](int index) { return build_frame(image, index); };

    EngineHarness harness;
    QCOMPARE(harness.send(erase_command(quint32(image.size())), datagrams),
             QByteArray("READY\r\n"));
    QCOMPARE(harness.send(frame(0), datagrams), QByteArray("K"));
    QCOMPARE(harness.send(frame(0), datagrams), QByteArray("K")); // a retry: re-acked
    QCOMPARE(harness.send(frame(2), datagrams), QByteArray());    // ahead of its turn
    QCOMPARE(harness.send(corrupt_crc(frame(1)), datagrams), QByteArray());
    QCOMPARE(harness.send(frame(1), datagrams), QByteArray("K"));
    QCOMPARE(harness.send(frame(0), datagrams), QByteArray()); // two behind: not a retry
    QCOMPARE(harness.send(frame(1), datagrams), QByteArray("K"));
    QCOMPARE(harness.send(frame(2), datagrams), "K" + rxdone_line(crc32(m_plain)));
    // The last frame again, after the RXDONE line: still a retry.
    QCOMPARE(harness.send(frame(2), datagrams), QByteArray("K"));
    QCOMPARE(harness.send("F", datagrams), "IMGCRC=" + hex8(crc32(m_plain)).toLatin1() + "\r\n");

    const Record &record = harness.engine->record();
    QCOMPARE(record.frames, (QList<int>{0, 0, 2, 1, 0, 1, 2, 2}));
    QCOMPARE(record.badFrames, 1);
    QCOMPARE(record.updates, 1);
    QVERIFY(harness.logHas(QStringLiteral("bad CRC-16")));
    QVERIFY(harness.logHas(QStringLiteral("out of order")));
}

void TestBoardSim::frameFaults_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QList<int>>("sent");        // frame indices, in order
    QTest::addColumn<QByteArrayList>("replies"); // per frame; {rx}: the RXDONE line
    QTest::addColumn<QByteArray>("after");       // answer to "j" afterwards
    QTest::addColumn<QList<int>>("recorded");    // frames in the record

    const QByteArray jedec = "JEDEC=C86018\r\n";
    const QList<int> all{0, 1, 2};
    QTest::newRow("no fault") << QStringList{} << all << QByteArrayList{"K", "K", "K{rx}"} << jedec
                              << all;
    QTest::newRow("drop ack") << QStringList{"--drop-ack", "1"} << QList<int>{0, 1, 1, 2}
                              << QByteArrayList{"K", "", "K", "K{rx}"} << jedec
                              << QList<int>{0, 1, 1, 2};
    // Lost K of the last frame: the RXDONE line still follows, and it counts as the ack.
    QTest::newRow("drop last ack")
        << QStringList{"--drop-ack", "2"} << QList<int>{0, 1, 2, 2}
        << QByteArrayList{"K", "K", "{rx}", "K"} << jedec << QList<int>{0, 1, 2, 2};
    QTest::newRow("never ack") << QStringList{"--never-ack", "1"} << QList<int>{0, 1, 1, 1}
                               << QByteArrayList{"K", "", "", ""} << jedec
                               << QList<int>{0, 1, 1, 1};
    QTest::newRow("stray after") << QStringList{"--stray-after", "0"} << all
                                 << QByteArrayList{"K?\r", "K", "K{rx}"} << jedec << all;
    QTest::newRow("rxdone instead of last ack")
        << QStringList{"--rxdone-instead-of-last-ack"} << all << QByteArrayList{"K", "K", "{rxlf}"}
        << jedec << all;
    QTest::newRow("bad rx crc") << QStringList{"--bad-rx-crc"} << all
                                << QByteArrayList{"K", "K", "K{badrx}"} << jedec << all;
    QTest::newRow("no rxdone") << QStringList{"--no-rxdone"} << all << QByteArrayList{"K", "K", "K"}
                               << jedec << all;
    // After the reset the retried frame is skipped whole: no reply to any of its bytes.
    QTest::newRow("reset") << QStringList{"--reset-at", "1"} << QList<int>{0, 1, 1}
                           << QByteArrayList{"K", "QUELVANE GOLDEN boot\r\n", ""} << jedec
                           << QList<int>{0, 1};
    // A dead link hears nothing more.
    QTest::newRow("drop link") << QStringList{"--drop-link-at", "1"} << all
                               << QByteArrayList{"K", "<hangup>", ""} << QByteArray()
                               << QList<int>{0, 1};
}

void TestBoardSim::frameFaults()
{
    QFETCH(QStringList, args);
    QFETCH(QList<int>, sent);
    QFETCH(QByteArrayList, replies);
    QFETCH(QByteArray, after);
    QFETCH(QList<int>, recorded);
    QCOMPARE(sent.size(), replies.size());

    const quint32 crc = crc32(m_plain);
    for (const bool datagrams : {false, true}) {
        EngineHarness harness(args);
        QVERIFY(harness.parsed);
        harness.send(erase_command(quint32(m_container.size())), datagrams);
        for (int i = 0; i < sent.size(); ++i) {
            QByteArray expected = replies[i];
            expected.replace("{rx}", rxdone_line(crc))
                .replace("{rxlf}", rxdone_line(crc, "\n"))
                .replace("{badrx}", rxdone_line(~crc));
            const QByteArray got = harness.send(build_frame(m_container, sent[i]), datagrams);
            QVERIFY2(got == expected, qPrintable(QStringLiteral("frame %1 (%2): got '%3'")
                                                     .arg(sent[i])
                                                     .arg(datagrams ? "datagrams" : "stream")
                                                     .arg(QString::fromLatin1(got))));
        }
        QCOMPARE(harness.send("j", datagrams), after);
        QCOMPARE(harness.engine->record().frames, recorded);
    }
}

void TestBoardSim::replyDelays()
{
    EngineHarness harness({"--erase-ms", "70", "--readback-ms", "30", "--latency-ms", "5"});
    const auto delays = [](const Actions &actions) {
        QList<int> list;
        for (const Action &action : actions)
            list.append(action.delayMs);
        return list;
    };
    ProtocolEngine &engine = *harness.engine;
    QCOMPARE(delays(engine.feedStream("j")), QList<int>{5});
    QCOMPARE(delays(engine.feedStream(erase_command(300))), QList<int>{75});
    QCOMPARE(delays(engine.feedStream(build_frame(test::pattern_bytes(300), 0))), QList<int>{5});
    QCOMPARE(delays(engine.feedStream("F")), QList<int>{35});
    QCOMPARE(delays(engine.feedStream("b")), QList<int>{5});
}

void TestBoardSim::datagramRules()
{
    EngineHarness harness;
    const QByteArray frame0 = build_frame(m_container, 0);

    QCOMPARE(harness.datagram(QByteArray(MAX_FRAME_SIZE + 1, 'j')), QByteArray());
    QVERIFY(harness.logHas(QStringLiteral("oversize")));
    QCOMPARE(harness.datagram(frame0), QByteArray()); // no transfer announced
    QCOMPARE(harness.engine->record().frames, QList<int>{});

    QCOMPARE(harness.datagram(erase_command(quint32(m_container.size()))), QByteArray("READY\r\n"));
    QCOMPARE(harness.datagram(frame0 + "x"), QByteArray()); // 263 bytes: no frame is that long
    QCOMPARE(harness.engine->record().badFrames, 0);
    QCOMPARE(harness.datagram(frame0.chopped(1)), QByteArray());
    QCOMPARE(harness.datagram(build_frame(m_container, 2) + "x"),
             QByteArray()); // the short last one
    QCOMPARE(harness.engine->record().badFrames, 2);
    QCOMPARE(harness.datagram("?!"), QByteArray()); // noise does not end the transfer
    QCOMPARE(harness.datagram(frame0), QByteArray("K"));

    // A command instead of the next frame: the host gave up, and the board follows.
    QCOMPARE(harness.datagram("j"), QByteArray("JEDEC=C86018\r\n"));
    QCOMPARE(harness.datagram(build_frame(m_container, 1)), QByteArray());
    QVERIFY(harness.logHas(QStringLiteral("abandoned after 1 of 3")));
    QCOMPARE(harness.engine->record().updates, 0);
}

void TestBoardSim::streamEdges()
{
    const QByteArray frame0 = build_frame(m_container, 0);
    const QByteArray erase = erase_command(quint32(m_container.size()));

    // A frame cut short: once the line goes quiet it is dropped, and the next frame stands alone.
    EngineHarness idle;
    idle.stream(erase);
    QCOMPARE(idle.stream(frame0.left(100)), QByteArray());
    QVERIFY(idle.engine->hasPartialInput());
    idle.engine->inputIdle();
    QVERIFY(!idle.engine->hasPartialInput());
    QCOMPARE(idle.stream(frame0), QByteArray("K"));
    QVERIFY(idle.logHas(QStringLiteral("incomplete frame")));

    // Without the quiet gap the two run together and the frame is lost.
    EngineHarness noIdle;
    noIdle.stream(erase);
    noIdle.stream(frame0.left(100));
    QCOMPARE(noIdle.stream(frame0), QByteArray());

    // "U" whose length never comes is dropped too, rather than eating the next command.
    EngineHarness partialErase;
    partialErase.stream("U\x10");
    QVERIFY(partialErase.engine->hasPartialInput());
    partialErase.engine->inputIdle();
    QCOMPARE(partialErase.stream("j"), QByteArray("JEDEC=C86018\r\n"));

    // A command where a frame should begin ends the transfer; garbage does not.
    EngineHarness abandon;
    abandon.stream(erase);
    QCOMPARE(abandon.stream(frame0 + "zzj"), QByteArray("K")); // "j" inside garbage
    QCOMPARE(abandon.stream("j"), QByteArray());               // still resynchronising
    QCOMPARE(abandon.stream(build_frame(m_container, 1) + "j"),
             "K" + QByteArray("JEDEC=C86018\r\n"));

    // Frame indices beyond the announced count are no frame at all.
    EngineHarness beyond;
    beyond.stream(erase);
    QCOMPARE(beyond.stream(build_frame(test::pattern_bytes(256 * 8), 7)), QByteArray());
    QCOMPARE(beyond.stream(frame0), QByteArray("K"));
}

void TestBoardSim::cipher()
{
    const QByteArray plain = test::pattern_bytes(1000, 11);
    const QByteArray nonce = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    const QByteArray container = pack_container(plain, nonce);

    QVariantMap info;
    QString error;
    QVERIFY2(parse_container(container, &info, &error), qPrintable(error));
    QCOMPARE(info.value("size").toLongLong(), plain.size());
    QCOMPARE(info.value("crc32").toString(), hex8(crc32(plain)).toUpper());
    QCOMPARE(container.mid(ContainerHeader::opaqueOffset, NONCE_SIZE), nonce);
    const QByteArray payload = container.mid(ContainerHeader::size);
    QVERIFY(payload != plain);

    bool isContainer = false;
    QCOMPARE(plain_image(container, &isContainer), plain);
    QVERIFY(isContainer);

    // Every nonce byte matters, so two packs of one image never share a payload.
    QByteArray otherNonce = nonce;
    otherNonce[NONCE_SIZE - 1] = char(otherNonce[NONCE_SIZE - 1] ^ 1);
    QVERIFY(apply_keystream(plain, otherNonce) != payload);
    QCOMPARE(apply_keystream(payload, nonce), plain);

    // What is not a container is taken as it is.
    QCOMPARE(plain_image(plain, &isContainer), plain);
    QVERIFY(!isContainer);
    const QByteArray truncated = container.chopped(1);
    QCOMPARE(plain_image(truncated, &isContainer), truncated);
    QVERIFY(!isContainer);
}

void TestBoardSim::uartPacer()
{
    using namespace std::chrono;
    const UartPacer::Clock::time_point t0{seconds(100)};

    UartPacer unpaced(0);
    QCOMPARE(unpaced.receiveDone(t0, 1000), t0);
    QCOMPARE(unpaced.transmitDone(t0, 1000), t0);

    // 115200 baud, 8N1: 11520 bytes a second, 86805 ns a byte.
    UartPacer pacer(115200);
    QCOMPARE(pacer.wireTime(1).count(), 86805);
    QCOMPARE(pacer.wireTime(11520), nanoseconds(seconds(1)));
    const auto frame = pacer.wireTime(262);
    QCOMPARE(pacer.receiveDone(t0, 262), t0 + frame);
    // Arriving while the wire is still busy: queued behind the first frame.
    QCOMPARE(pacer.receiveDone(t0 + microseconds(10), 262), t0 + 2 * frame);
    // Arriving after the wire went idle: counted from its own arrival.
    const auto later = t0 + seconds(1);
    QCOMPARE(pacer.receiveDone(later, 1), later + pacer.wireTime(1));
    // The other direction has its own wire.
    QCOMPARE(pacer.transmitDone(t0, 1), t0 + pacer.wireTime(1));
    QCOMPARE(pacer.transmitDone(t0, 14), t0 + pacer.wireTime(1) + pacer.wireTime(14));
}

// --- The executable ---------------------------------------------------------------------

void TestBoardSim::packAndInfo()
{
    QTemporaryDir dir;
    const QByteArray plain = test::pattern_bytes(5000, 21);
    const QString in = test::write_file(dir, "plain.bin", plain);
    const QString out = dir.filePath("image.qvbit");

    const auto pack = test::run_process(QVOTA_SIM_EXE, {"pack", in, out}, 10000);
    QCOMPARE(pack.exitCode, 0);
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray container = file.readAll();
    QVERIFY(parse_container(container, nullptr, nullptr));
    QCOMPARE(plain_image(container), plain);

    const QString crc = hex8(crc32(plain)).toUpper();
    const auto info = test::run_process(QVOTA_SIM_EXE, {"info", out}, 10000);
    QCOMPARE(info.exitCode, 0);
    const QStringList expected{
        "magic: QVBIT002", "nonce: " + QString::fromLatin1(container.mid(8, 16).toHex()),
        "size: 5000",      "crc32: " + crc,
        "file size: 5036", "size matches: yes",
    };
    QCOMPARE(info.outLines(), expected);

    // Two packs of one image get different nonces.
    QCOMPARE(test::pack_with_sim(plain).size(), container.size());
    QVERIFY(test::pack_with_sim(plain) != container);

    // A truncated container: the size check says so and the exit code fails.
    const QString cut = test::write_file(dir, "cut.qvbit", container.chopped(1));
    const auto cutInfo = test::run_process(QVOTA_SIM_EXE, {"info", cut}, 10000);
    QCOMPARE(cutInfo.exitCode, 1);
    QVERIFY(cutInfo.outLines().contains("size matches: no"));
    QVERIFY(cutInfo.outLines().contains("file size: 5035"));

    QVERIFY(test::run_process(QVOTA_SIM_EXE, {"pack", in}, 10000).exitCode != 0);
    QVERIFY(test::run_process(QVOTA_SIM_EXE, {"info", dir.filePath("missing")}, 10000).exitCode
            != 0);
}

void TestBoardSim::readyLineAndCleanExit_data()
{
    QTest::addColumn<bool>("pty");
    QTest::newRow("udp") << false;
#ifdef Q_OS_UNIX
    QTest::newRow("pty") << true;
#endif
}

void TestBoardSim::readyLineAndCleanExit()
{
    QFETCH(bool, pty);
    BoardSim sim;
    if (pty) {
        QVERIFY(sim.startPty());
        const QRegularExpression ready("^qvota-board-sim: serving pty (/dev/\\S+)$");
        const auto match = ready.match(sim.readyLine());
        QVERIFY2(match.hasMatch(), qPrintable(sim.readyLine()));
        QCOMPARE(match.captured(1), sim.ptyPath());
        QVERIFY(QFileInfo::exists(sim.ptyPath()));
    } else {
        QVERIFY(sim.startUdp());
        const QRegularExpression ready("^qvota-board-sim: serving udp 127\\.0\\.0\\.1:(\\d+)$");
        const auto match = ready.match(sim.readyLine());
        QVERIFY2(match.hasMatch(), qPrintable(sim.readyLine()));
        QCOMPARE(match.captured(1).toUInt(), uint(sim.udpPort()));
        QVERIFY(sim.udpPort() != 0);
    }

    const QJsonObject record = sim.stop();
    QVERIFY(sim.exitedCleanly());
    for (const char *key : {"identify", "badFrames", "readback", "warmBoot", "updates"})
        QCOMPARE(record.value(key).toInt(-1), 0);
    for (const char *key : {"erase", "frames", "targets"}) {
        QVERIFY2(record.value(key).isArray(), key);
        QVERIFY(record.value(key).toArray().isEmpty());
    }
    QVERIFY(sim.log().contains("stopped"));

#ifdef Q_OS_UNIX
    // SIGINT ends it as cleanly as SIGTERM.
    QTemporaryDir dir;
    QProcess process;
    process.start(QVOTA_SIM_EXE, {"serve", "--udp", "127.0.0.1:0", "--record", dir.filePath("r")});
    QVERIFY(process.waitForReadyRead(10000));
    QVERIFY(process.readLine().startsWith("qvota-board-sim: serving udp 127.0.0.1:"));
    ::kill(pid_t(process.processId()), SIGINT);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(QFileInfo::exists(dir.filePath("r")));
    // Nothing but the ready line on stdout.
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
#endif
}

void TestBoardSim::udpUpdates()
{
    BoardSim sim;
    QVERIFY(sim.startUdp({"--erase-ms", "0", "--readback-ms", "0"}));
    const auto link = open_udp_link(sim.udpPort());
    QVERIFY(link);

    // A multi-frame image with a short last frame, then a one-frame image: update after update.
    const QByteArray first = test::pattern_bytes(5000, 31);
    const QByteArray second = test::pattern_bytes(100, 32);
    const QByteArray firstContainer = test::pack_with_sim(first);
    const QByteArray secondContainer = test::pack_with_sim(second);
    QVERIFY(!firstContainer.isEmpty() && !secondContainer.isEmpty());

    OtaConfig config;
    config.warmBoot = true;
    config.target = "2";
    config.bannerWindowMs = 300;
    const FlowRun one = run_flow(*link, firstContainer, crc32(first), config);
    QVERIFY2(one.result.isEmpty(), qPrintable(one.result));
    QVERIFY(one.logHas("RX CRC32 match"));
    QVERIFY(one.logHas("IMG CRC32 (flash readback) MATCH - OTA WRITE VERIFIED"));
    QVERIFY(one.log.contains("WARM BOOT OK: QUELVANE APP2 running (warm boot)"));

    config.target.clear();
    const FlowRun two = run_flow(*link, secondContainer, crc32(second), config);
    QVERIFY2(two.result.isEmpty(), qPrintable(two.result));
    QVERIFY(two.log.contains("WARM BOOT OK: QUELVANE APP1 running (warm boot)"));

    const QJsonObject record = sim.stop();
    QVERIFY(sim.exitedCleanly());
    QCOMPARE(record.value("identify").toInt(), 2);
    QCOMPARE(json_ints(record.value("erase")),
             (QList<int>{int(firstContainer.size()), int(secondContainer.size())}));
    QCOMPARE(json_ints(record.value("frames")),
             iota(frame_count(firstContainer.size())) + iota(frame_count(secondContainer.size())));
    QCOMPARE(record.value("badFrames").toInt(), 0);
    QCOMPARE(record.value("readback").toInt(), 2);
    QCOMPARE(record.value("targets").toArray(), QJsonArray{"2"});
    QCOMPARE(record.value("warmBoot").toInt(), 2);
    QCOMPARE(record.value("updates").toInt(), 2);
}

void TestBoardSim::faultsThroughFlow_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("warmBoot");
    QTest::addColumn<QString>("result");       // {crc}: expected CRC, {bad}: its complement
    QTest::addColumn<QStringList>("logLines"); // lines the host logs, in part, in this order

    QTest::newRow("noise lines") << QStringList{"--noise-lines", "3"} << false << ""
                                 << QStringList{"RX> BOOT: ota loader v2", "JEDEC=C86018"};
    QTest::newRow("erase reply") << QStringList{"--erase-reply", "ready"} << false
                                 << "expected READY after erase, got 'ready'" << QStringList{};
    QTest::newRow("no erase reply") << QStringList{"--no-erase-reply"} << false
                                    << "expected READY after erase, got ''" << QStringList{};
    QTest::newRow("stray after ack") << QStringList{"--stray-after", "0"} << false << ""
                                     << QStringList{"note: skipped 2 non-ack byte(s) at frame 1",
                                                    "note: skipped 2 non-ack byte(s) at frame 2"};
    QTest::newRow("rxdone instead of last ack")
        << QStringList{"--rxdone-instead-of-last-ack"} << false << ""
        << QStringList{"RX> RXDONE CRC32=", "RX CRC32 match"};
    QTest::newRow("bad rx crc") << QStringList{"--bad-rx-crc"} << false
                                << "RX CRC32 mismatch rx={bad} file={crc}" << QStringList{};
    QTest::newRow("bad img crc") << QStringList{"--bad-img-crc"} << false
                                 << "IMG CRC32 mismatch img={bad} file={crc}"
                                 << QStringList{"RX CRC32 match"};
    QTest::newRow("no banner") << QStringList{"--no-banner"} << true << ""
                               << QStringList{"TX> b (warm boot)",
                                              "WARM BOOT OK: WARN: no warm-boot ack seen"};
    QTest::newRow("double banner")
        << QStringList{"--double-banner"} << true << ""
        << QStringList{"RX> WB->reboot", "RX> QUELVANE APP1 running (warm boot)",
                       "WARM BOOT OK: QUELVANE APP1 running (warm boot)"};
}

void TestBoardSim::faultsThroughFlow()
{
    QFETCH(QStringList, args);
    QFETCH(bool, warmBoot);
    QFETCH(QString, result);
    QFETCH(QStringList, logLines);

    BoardSim sim;
    QVERIFY(sim.startUdp(QStringList{"--erase-ms", "0", "--readback-ms", "0"} + args));
    const auto link = open_udp_link(sim.udpPort());
    QVERIFY(link);

    OtaConfig config;
    config.warmBoot = warmBoot;
    config.bannerWindowMs = 300;
    config.eraseTimeoutMs = 300;
    const quint32 crc = crc32(m_plain);
    const FlowRun run = run_flow(*link, m_container, crc, config);
    result.replace("{crc}", QStringLiteral("%1").arg(crc, 8, 16, QLatin1Char(' ')))
        .replace("{bad}", QStringLiteral("%1").arg(~crc, 8, 16, QLatin1Char(' ')));
    QCOMPARE(run.result, result);
    qsizetype at = 0;
    for (const QString &expected : std::as_const(logLines)) {
        while (at < run.log.size() && !run.log[at].contains(expected))
            ++at;
        QVERIFY2(at < run.log.size(),
                 qPrintable(expected + "\nnot found in\n" + run.log.join('\n')));
    }
    QVERIFY(sim.stop().value("identify").toInt() >= 1);
    QVERIFY(sim.exitedCleanly());
}

void TestBoardSim::linkScripts_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<Script>("script");
    QTest::addColumn<QList<int>>("frames"); // as recorded

    const QByteArray erase = erase_command(quint32(m_container.size()));
    const auto frame = [this](int index) { return build_frame(m_container, index); };
    const QByteArray jedec = "JEDEC=C86018\r\n";
    const QByteArray rx = rxdone_line(crc32(m_plain));
    const QByteArray img = "IMGCRC=" + hex8(crc32(m_plain)).toLatin1() + "\r\n";

    QTest::newRow("silent identify")
        << QStringList{"--silent-identify", "2"}
        << Script{{"j", ""}, {"j", ""}, {"j", jedec}, {"j", jedec}} << QList<int>{};
    QTest::newRow("drop ack, retry re-acked")
        << QStringList{"--drop-ack", "1"}
        << Script{{erase, "READY\r\n"}, {frame(0), "K"},      {frame(1), ""},
                  {frame(1), "K"},      {frame(2), "K" + rx}, {"F", img}}
        << QList<int>{0, 1, 1, 2};
    QTest::newRow("never ack") << QStringList{"--never-ack", "1"}
                               << Script{{erase, "READY\r\n"}, {frame(0), "K"}, {frame(1), ""},
                                         {frame(1), ""},       {frame(1), ""},  {"j", jedec}}
                               << QList<int>{0, 1, 1, 1};
    QTest::newRow("bad crc frame ignored") << QStringList{}
                                           << Script{{erase, "READY\r\n"},
                                                     {corrupt_crc(frame(0)), ""},
                                                     {frame(0), "K"},
                                                     {frame(1), "K"},
                                                     {frame(2), "K" + rx}}
                                           << QList<int>{0, 1, 2};
    QTest::newRow("rxdone instead of last ack")
        << QStringList{"--rxdone-instead-of-last-ack"}
        << Script{{erase, "READY\r\n"},
                  {frame(0), "K"},
                  {frame(1), "K"},
                  {frame(2), rxdone_line(crc32(m_plain), "\n")}}
        << QList<int>{0, 1, 2};
    QTest::newRow("no rxdone") << QStringList{"--no-rxdone"}
                               << Script{{erase, "READY\r\n"},
                                         {frame(0), "K"},
                                         {frame(1), "K"},
                                         {frame(2), "K"},
                                         {"F", img}}
                               << QList<int>{0, 1, 2};
    QTest::newRow("reset") << QStringList{"--reset-at", "1"}
                           << Script{{erase, "READY\r\n"},
                                     {frame(0), "K"},
                                     {frame(1), "QUELVANE GOLDEN boot\r\n"},
                                     {frame(1), ""},
                                     {"j", jedec}}
                           << QList<int>{0, 1};
    QTest::newRow("udp link dropped")
        << QStringList{"--drop-link-at", "1"}
        << Script{{erase, "READY\r\n"}, {frame(0), "K"}, {frame(1), ""}, {frame(2), ""}, {"j", ""}}
        << QList<int>{0, 1};
    QTest::newRow("noise before every jedec line")
        << QStringList{"--noise-lines", "1"}
        << Script{{"j", "BOOT: ota loader v2\r\n" + jedec},
                  {"j", "BOOT: ota loader v2\r\n" + jedec}}
        << QList<int>{};
}

void TestBoardSim::linkScripts()
{
    QFETCH(QStringList, args);
    QFETCH(Script, script);
    QFETCH(QList<int>, frames);

    BoardSim sim;
    QVERIFY(sim.startUdp(QStringList{"--erase-ms", "0", "--readback-ms", "0"} + args));
    const auto link = open_udp_link(sim.udpPort());
    QVERIFY(link);
    for (int i = 0; i < script.size(); ++i) {
        link->write(script[i].send);
        const QByteArray got = read_reply(*link, script[i].expect.size());
        QVERIFY2(got == script[i].expect,
                 qPrintable(QStringLiteral("step %1: got '%2'\n%3")
                                .arg(i)
                                .arg(QString::fromLatin1(got), sim.log())));
    }
    QCOMPARE(link->readByte(SILENCE_MS), -1); // nothing more than the script expects
    QVERIFY(sim.isRunning());
    const QJsonObject record = sim.stop();
    QVERIFY(sim.exitedCleanly());
    QCOMPARE(json_ints(record.value("frames")), frames);
}

void TestBoardSim::garbageNeverCrashes()
{
    BoardSim sim;
    QVERIFY(sim.startUdp({"--erase-ms", "0", "--readback-ms", "0"}));
    const auto link = open_udp_link(sim.udpPort());
    QVERIFY(link);

    const auto stillAnswers = [&] {
        link->clearInput();
        link->write("j");
        QString line;
        return link->readLine(REPLY_MS, line) && line.endsWith("JEDEC=C86018");
    };
    // Noise of every size, in command mode and during a transfer.
    for (const bool inTransfer : {false, true}) {
        if (inTransfer) {
            link->write(erase_command(quint32(m_container.size())));
            QString line;
            QVERIFY(link->readLine(REPLY_MS, line));
        }
        for (const int size : {1, 2, 5, 6, 7, 100, 261, 262, 263, 1000, 8000}) {
            QByteArray noise = test::pattern_bytes(size, quint32(size));
            link->write(noise);
            link->write(QByteArray("\xAA\x55") + noise); // looks like a frame, is none
        }
        link->write(erase_command(0));
        link->write(erase_command(0x7FFFFFFF));
        QThread::msleep(SILENCE_MS);
        QVERIFY(sim.isRunning());
        QVERIFY2(stillAnswers(), qPrintable(sim.log()));
    }
    QVERIFY(sim.log().contains("oversize datagram"));
    QVERIFY(sim.log().contains("ERR len"));
    sim.stop();
    QVERIFY(sim.exitedCleanly());

#ifdef Q_OS_UNIX
    BoardSim ptySim;
    QVERIFY(ptySim.startPty({"--erase-ms", "0", "--readback-ms", "0"}));
    SerialLink serial(ptySim.ptyPath(), 115200);
    QVERIFY(serial.open(nullptr));
    for (int round = 0; round < 4; ++round) {
        serial.write(test::pattern_bytes(2000, quint32(100 + round)));
        // Answers to the noise's command bytes must not pile up in the pty.
        while (serial.readByte(20) >= 0) {
        }
    }
    QThread::msleep(300); // long enough for the simulator to drop any half command or frame
    serial.clearInput();
    serial.write("j");
    QString line;
    QVERIFY2(serial.readLine(REPLY_MS, line), qPrintable(ptySim.log()));
    QCOMPARE(line, QStringLiteral("JEDEC=C86018"));
    QVERIFY(ptySim.isRunning());
    ptySim.stop();
    QVERIFY(ptySim.exitedCleanly());
#endif
}

void TestBoardSim::ptyUpdateWithReopen()
{
#ifndef Q_OS_UNIX
    QSKIP("the pty transport needs a POSIX system");
#else
    QTemporaryDir dir;
    const QString linkPath = dir.filePath("board-tty");
    BoardSim sim;
    QVERIFY(sim.startPty({"--link", linkPath, "--erase-ms", "0", "--readback-ms", "0"}));
    QCOMPARE(QFileInfo(linkPath).symLinkTarget(), sim.ptyPath());

    // Through the link path, the way a user would name the port. The flow's reopen before the
    // warm boot closes the port for 2 s; the banner after it shows the board still serving.
    SerialLink link(linkPath, 115200);
    QString error;
    QVERIFY2(link.open(&error), qPrintable(error));
    OtaConfig config;
    config.warmBoot = true;
    config.target = "2";
    config.bannerWindowMs = 300;
    const QByteArray plain = test::pattern_bytes(3000, 41);
    const FlowRun run = run_flow(link, test::pack_with_sim(plain), crc32(plain), config);
    QVERIFY2(run.result.isEmpty(), qPrintable(run.result + "\n" + sim.log()));
    QVERIFY(run.log.contains("reopen transport before warm boot (XREQ-19 mitigation)"));
    QVERIFY(run.log.contains("WARM BOOT OK: QUELVANE APP2 running (warm boot)"));
    link.close();

    const QJsonObject record = sim.stop();
    QVERIFY(sim.exitedCleanly());
    QCOMPARE(record.value("updates").toInt(), 1);
    QCOMPARE(record.value("warmBoot").toInt(), 1);
    QVERIFY(!QFileInfo(linkPath).isSymLink());
#endif
}

void TestBoardSim::ptyStreamResyncAndHangUp()
{
#ifndef Q_OS_UNIX
    QSKIP("the pty transport needs a POSIX system");
#else
    BoardSim sim;
    QVERIFY(sim.startPty({"--erase-ms", "0", "--drop-link-at", "2"}));
    SerialLink link(sim.ptyPath(), 115200);
    QVERIFY(link.open(nullptr));

    link.write(erase_command(quint32(m_container.size())));
    QString line;
    QVERIFY(link.readLine(REPLY_MS, line));
    QCOMPARE(line, QStringLiteral("READY"));
    // Garbage and a frame in one write: the frame is found after it.
    link.write(QByteArray("\x00\x01\xAA\x00zz", 6) + build_frame(m_container, 0));
    QCOMPARE(link.readByte(REPLY_MS), int('K'));
    // A frame split across writes is put together again.
    const QByteArray frame1 = build_frame(m_container, 1);
    link.write(frame1.left(10));
    QThread::msleep(20);
    link.write(frame1.mid(10));
    QCOMPARE(link.readByte(REPLY_MS), int('K'));

    // The hang-up: the slave device goes away while the simulator lives on.
    link.write(build_frame(m_container, 2));
    QCOMPARE(link.readByte(SILENCE_MS), -1);
    QElapsedTimer gone;
    gone.start();
    while (QFileInfo::exists(sim.ptyPath()) && gone.elapsed() < REPLY_MS)
        QThread::msleep(10);
    QVERIFY(!QFileInfo::exists(sim.ptyPath()));
    link.close();
    QVERIFY(sim.isRunning());

    const QJsonObject record = sim.stop();
    QVERIFY(sim.exitedCleanly());
    QCOMPARE(json_ints(record.value("frames")), (QList<int>{0, 1, 2}));
    QVERIFY(sim.log().contains("skipped 6 garbage byte(s) before frame 0"));
    QVERIFY(sim.log().contains("hung up"));
#endif
}

void TestBoardSim::ptyBaudPacing()
{
#ifndef Q_OS_UNIX
    QSKIP("the pty transport needs a POSIX system");
#else
    // A board at 115200 baud can take a frame no faster than its 262 bytes cross the wire,
    // and its replies take their own wire time; the simulator must not beat that.
    constexpr int baud = 115200;
    const auto wireUs = [](qint64 bytes) { return bytes * 10 * 1000000 / baud; };
    BoardSim sim;
    QVERIFY(
        sim.startPty({"--baud", QString::number(baud), "--erase-ms", "0", "--noise-lines", "30"}));
    SerialLink link(sim.ptyPath(), baud);
    QVERIFY(link.open(nullptr));

    // Thirty noise lines and the JEDEC line: a long reply to a one-byte command.
    QElapsedTimer timer;
    timer.start();
    link.write("j");
    QByteArray reply;
    while (!reply.endsWith("JEDEC=C86018\r\n")) {
        const int byte = link.readByte(REPLY_MS);
        QVERIFY(byte >= 0);
        reply.append(char(byte));
    }
    const qint64 replyUs = timer.nsecsElapsed() / 1000;
    QVERIFY2(replyUs >= wireUs(1 + reply.size()),
             qPrintable(QStringLiteral("%1 us for %2 reply bytes").arg(replyUs).arg(reply.size())));

    const QByteArray image = test::pattern_bytes(16 * FRAME_PAYLOAD, 51);
    link.write(erase_command(quint32(image.size())));
    QString line;
    QVERIFY(link.readLine(REPLY_MS, line));
    QCOMPARE(line, QStringLiteral("READY"));

    timer.start();
    for (int i = 0; i < 16; ++i) {
        link.write(build_frame(image, i));
        QCOMPARE(link.readByte(REPLY_MS), int('K'));
    }
    const qint64 elapsedUs = timer.nsecsElapsed() / 1000;
    QVERIFY2(elapsedUs >= wireUs(16 * (262 + 1)),
             qPrintable(QStringLiteral("%1 us for 16 frames").arg(elapsedUs)));
    QVERIFY(link.readLine(REPLY_MS, line));
    QCOMPARE(line, QStringLiteral("RXDONE CRC32=") + hex8(crc32(image)));
    sim.stop();
    QVERIFY(sim.exitedCleanly());
#endif
}

QTEST_GUILESS_MAIN(TestBoardSim)
#include "tst_boardsim.moc"
