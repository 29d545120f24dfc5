// What only the simulator's own test checks: its protocol engine, cipher and UART pacer, and the
// executable's ready line, signals, robustness and pty handling (whole updates: tests/app).
#include "boardsim.h"
#include "cipher.h"
#include "container.h"
#include "otaflow.h"
#include "processrun.h"
#include "protocolengine.h"
#include "seriallink.h"
#include "testimages.h"
#include "uartpacer.h"
#include "udplink.h"
#include "wire.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTest>
#include <QtEndian>

#include <limits>

#include <csignal>
#include <memory>

using namespace qvota;
using namespace qvota::sim;
using namespace qvota::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray JEDEC = "JEDEC=C86018\r\n", READY = "READY\r\n";
const auto hex8 = [](quint32 n) { return QByteArray::number(n, 16).rightJustified(8, '0'); };
const auto rxdone = [](quint32 crc) -> QByteArray { return "RXDONE CRC32=" + hex8(crc) + "\r\n"; };
const auto imgcrc = [](quint32 crc) -> QByteArray { return "IMGCRC=" + hex8(crc) + "\r\n"; };
const auto erase_command = [](quint32 length) -> QByteArray {
    return QByteArray("U") + char(length) + char(length >> 8) + char(length >> 16)
           + char(length >> 24);
};

// Writes bytes, then reads until the reply ends with until or 3 s pass without a byte.
QByteArray exchange(Link &link, const QByteArray &bytes, const QByteArray &until)
{
    link.write(bytes);
    QByteArray reply;
    for (int byte = 0; !reply.endsWith(until) && (byte = link.readByte(3000)) >= 0;)
        reply.append(char(byte));
    return reply;
}

// An engine set up from serve arguments and fed as datagrams (chunk 0) or as a stream cut into
// pieces of chunk bytes; an empty send is a quiet line, on which the pty server's idle time-out
// drops what is half received. log holds the engine's log, or the error in the arguments.
struct Harness
{
    Harness(const QStringList &args, int chunk)
        : chunk(chunk)
    {
        SimConfig config;
        parse_serve_args(args, &config, &log);
        engine = std::make_unique<ProtocolEngine>(
            config, [this](const QString &line) { log += line + u'\n'; });
    }
    QByteArray send(const QByteArray &bytes)
    {
        if (bytes.isEmpty() && engine->hasPartialInput())
            engine->inputIdle();
        QByteArray replies;
        for (qsizetype at = 0; at < bytes.size(); at += chunk ? chunk : bytes.size())
            for (const Action &action :
                 chunk ? engine->feedStream(bytes.mid(at, chunk)) : engine->feedDatagram(bytes))
                replies += action.bytes;
        return replies;
    }

    int chunk;
    QString log;
    std::unique_ptr<ProtocolEngine> engine;
};

} // namespace

class TestBoardSim : public QObject
{
    Q_OBJECT

private slots:
    void scripts_data();
    void scripts();
    void uartPacer();
    void packAndCipher();
#ifdef Q_OS_UNIX
    void garbageAndCleanExit_data();
    void garbageAndCleanExit();
    void ptyReopenedAndNeverFasterThanTheWire();
#endif

private:
    const QByteArray m_plain = pattern_bytes(600, 7); // 636-byte container: 3 frames
    const QByteArray m_container = pack_container(m_plain, QByteArray(NONCE_SIZE, '\x5A'));
};

void TestBoardSim::scripts_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArrayList>("script"); // pairs: what the host sends, what comes back
    QTest::addColumn<QList<int>>("frames");     // good frames as recorded
    QTest::addColumn<int>("bad");               // bad frames as recorded
    QTest::addColumn<int>("chunk");
    // By default as datagrams, and as a stream byte by byte, in pieces of 7 bytes and whole.
    const auto add = [](const QByteArray &name, const QStringList &args,
                        const QByteArrayList &script, const QList<int> &frames, int bad = 0,
                        const QList<int> &chunks = {0, 1, 7, 1 << 30}) {
        for (const int chunk : chunks)
            QTest::addRow("%s, chunk %d", name.constData(), chunk)
                << args << script << frames << bad << chunk;
    };

    // Whole transfers: one frame, one full frame, a one-byte last frame, several with garbage
    // before each. Whatever the host sent, the CRCs are those of the plain image.
    for (const int size : {1, 220, 221, 1000}) {
        const QByteArray plain = pattern_bytes(size, quint32(size));
        const QByteArray image = pack_container(plain, random_nonce());
        const int frames = int((image.size() + FRAME_PAYLOAD - 1) / FRAME_PAYLOAD);
        QByteArrayList script{erase_command(quint32(image.size())), READY};
        for (int i = 0; i < frames; ++i) {
            if (size == 1000)
                script << QByteArray("\x00\x13\xAA\x00zz", 6) << QByteArray();
            script << build_frame(image, i) << "K" + (i + 1 < frames ? "" : rxdone(crc32(plain)));
        }
        add(QByteArray::number(size) + "-byte image", {}, script << "F" << imgcrc(crc32(plain)),
            index_range(frames));
    }

    const QByteArray erase = erase_command(quint32(m_container.size())), err = "ERR len\r\n";
    const QByteArray K = "K", none, quiet, raw = "abcde", noise = "BOOT: ota loader v2\r\n";
    const QByteArray rx = rxdone(crc32(m_plain)), img = imgcrc(crc32(m_plain));
    const auto f = [this](int index) { return build_frame(m_container, index); };
    const QByteArray badCrc = f(1).chopped(1) + char(f(1).back() ^ 1);
    const QByteArray app1 = "QUELVANE APP1 running (warm boot)\r\n";
    const QByteArray app2 = QByteArray(app1).replace("APP1", "APP2");
    // Lengths 0 and over 2 MiB are refused. A frame outside a transfer is skipped whole, or its
    // 256 "j" would each be answered.
    QByteArrayList script{QByteArray("xyz\r\n\x00j", 7), JEDEC};
    script << "\xAAj" << JEDEC << erase_command(0) << err << erase_command(0x200001) << err
           << erase_command(0xFFFFFFFF) << err << "F" << imgcrc(0) << "b" << app1 << "2bb"
           << app2 + app1 << "21b" << app1 << build_frame(QByteArray(FRAME_PAYLOAD, 'j'), 0) << none
           << "j" << JEDEC << erase_command(0x200000) << READY;
    add("commands", {}, script, {});
    // A retry is re-acked, not stored again; a frame out of turn, with a bad CRC or an index
    // beyond the announced count gets nothing. A command instead of a frame abandons.
    script = {erase, READY};
    script << f(0) << K << f(0) << K << f(2) << none << badCrc << none << f(1) << K << f(0) << none
           << f(1) << K << f(2) << K + rx << f(2) << K << "F" << img << erase << READY
           << build_frame(pattern_bytes(8 * FRAME_PAYLOAD), 7) << none << f(0) << K << "j" << JEDEC
           << f(1) << none << "F" << imgcrc(0);
    add("frames", {}, script, {0, 0, 2, 1, 0, 1, 2, 2, 0}, 1);
    // A plain image instead of a container is stored and checked as it is.
    script = {"j", noise + JEDEC, "j", noise + JEDEC, "2b", "WB->reboot\r\n" + app2};
    script << erase_command(5) << none << build_frame(raw, 0) << K << "F" << imgcrc(crc32(raw));
    add("noise lines, double banner, no erase reply, no rxdone",
        {u"--noise-lines"_s, u"1"_s, u"--double-banner"_s, u"--no-erase-reply"_s, u"--no-rxdone"_s},
        script, {0});
    script = {erase, READY, f(0), "K?\r", f(1), K, f(2), rx.chopped(2) + "\n"};
    add("stray after ack, rxdone instead of last ack",
        {u"--stray-after"_s, u"0"_s, u"--rxdone-instead-of-last-ack"_s}, script, {0, 1, 2});
    // On a stream, a "U" without its length or half a frame is dropped when the line goes quiet;
    // without the quiet gap half a frame and the next run together, and that frame is lost.
    // Inside garbage, a command byte does not end a transfer.
    script = {"U\x10", none};
    script << quiet << none << "j" << JEDEC << erase << READY << f(0).left(100) << none << f(0)
           << none << quiet << none << f(0) << K << f(1).left(100) << none << quiet << none
           << f(1) + "zzj" << K << "j" << none << f(2) << K + rx;
    add("stream: quiet line, garbage", {}, script, {0, 1, 2}, 1, {1, 7, 1 << 30});
    // Line noise, then quiet: a host that gives the transfer up can identify the board again.
    script = {erase, READY, f(0), K, "zz", none, quiet, none, "j", JEDEC};
    add("stream: noise, quiet, identify", {}, script, {0}, 0, {1, 7, 1 << 30});
    // A frame must be a datagram of its own, neither longer (oversize datagrams are not read at
    // all) nor shorter; noise does not end the transfer.
    script = {erase, READY, f(0) + "x", none, f(0).chopped(1), none, f(2) + "x", none, "?!", none};
    script << QByteArray(MAX_FRAME_SIZE + 1, 'j') << none << f(0) << K;
    add("datagrams: a frame each", {}, script, {0}, 2, {0});
}

void TestBoardSim::scripts()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArrayList, script);
    QFETCH(QList<int>, frames);
    QFETCH(int, bad);
    QFETCH(int, chunk);
    Harness harness(args, chunk);
    QByteArrayList transcript;
    for (qsizetype i = 0; i + 1 < script.size(); i += 2)
        transcript << script[i] << harness.send(script[i]);
    QCOMPARE(transcript, script);
    QCOMPARE(harness.engine->record().frames, frames);
    QCOMPARE(harness.engine->record().badFrames, bad);
}

void TestBoardSim::uartPacer()
{
    using namespace std::chrono;
    const UartPacer::Clock::time_point t0{seconds(100)}, later = t0 + seconds(1);
    UartPacer unpaced(0), pacer(115200); // 8N1: 11520 bytes a second, 86805 ns a byte
    QVERIFY(unpaced.receiveDone(t0, 1000) == t0 && unpaced.transmitDone(t0, 1000) == t0);
    QCOMPARE(pacer.wireTime(1).count(), 86805);
    QCOMPARE(pacer.wireTime(11520), nanoseconds(seconds(1)));
    const auto frame = pacer.wireTime(262);
    QCOMPARE(pacer.receiveDone(t0, 262), t0 + frame);
    QCOMPARE(pacer.receiveDone(t0 + microseconds(10), 262), t0 + 2 * frame); // wire still busy
    QCOMPARE(pacer.receiveDone(later, 1), later + pacer.wireTime(1));        // wire gone idle
    QCOMPARE(pacer.transmitDone(t0, 1), t0 + pacer.wireTime(1));             // a wire of its own
    QCOMPARE(pacer.transmitDone(t0, 14), t0 + pacer.wireTime(1) + pacer.wireTime(14));
}

void TestBoardSim::packAndCipher()
{
    // The board's own CRCs, independent of the host's: the standard check values.
    QCOMPARE(frame_crc16("123456789", 9), quint16(0x29B1));
    QCOMPARE(image_crc32("123456789"), 0xCBF43926u);
    QTemporaryDir dir;
    const QByteArray plain = pattern_bytes(5000, 21);
    const QByteArray container = pack_with_sim(plain), nonce = container.mid(8, NONCE_SIZE);
    const auto info = run_process(QStringLiteral(QVOTA_SIM_EXE),
                                  {u"info"_s, write_file(dir, u"qvbit"_s, container)});
    QCOMPARE(info.exitCode, 0);
    QCOMPARE(info.outLines(),
             (QStringList{u"magic: QVBIT002"_s, u"nonce: "_s + QString::fromLatin1(nonce.toHex()),
                          u"size: 5000"_s,
                          u"crc32: "_s + QString::fromLatin1(hex8(crc32(plain)).toUpper()),
                          u"file size: 5036"_s, u"size matches: yes"_s}));
    // The keystream undoes itself; every nonce byte changes it, and every pack has a fresh one.
    QCOMPARE(plain_image(container), plain);
    const QByteArray otherNonce = nonce.chopped(1) + char(nonce.back() ^ 1);
    QVERIFY(apply_keystream(container.mid(ContainerHeader::SIZE), otherNonce) != plain);
    QVERIFY(pack_with_sim(plain).mid(8, NONCE_SIZE) != nonce);
    const auto cut = run_process(QStringLiteral(QVOTA_SIM_EXE),
                                 {u"info"_s, write_file(dir, u"cut"_s, container.chopped(1))});
    QVERIFY(cut.exitCode == 1 && cut.outLines().contains(u"size matches: no"_s));
    // A size field at the top of the 64-bit range must not overflow the length check.
    QByteArray huge = container;
    qToLittleEndian<qint64>(std::numeric_limits<qint64>::max(), huge.data() + 24);
    const auto big =
        run_process(QStringLiteral(QVOTA_SIM_EXE), {u"info"_s, write_file(dir, u"huge"_s, huge)});
    QVERIFY(big.exitCode == 1 && big.outLines().contains(u"size matches: no"_s));

    // Names that look like placeholders come out as they went in.
    const QString odd = dir.filePath(u"out%3x.qvbit"_s);
    const auto packed = run_process(QStringLiteral(QVOTA_SIM_EXE),
                                    {u"pack"_s, write_file(dir, u"in.bin"_s, plain), odd});
    QCOMPARE(packed.exitCode, 0);
    QVERIFY2(packed.out.contains(QByteArray(" into " + odd.toUtf8() + " (")),
             packed.out.constData());
}

#ifdef Q_OS_UNIX
void TestBoardSim::garbageAndCleanExit_data()
{
    QTest::addColumn<QStringList>("transport");
    QTest::addColumn<int>("signal");
    QTest::newRow("udp, SIGTERM") << QStringList{u"--udp"_s, u"127.0.0.1:0"_s} << int(SIGTERM);
    QTest::newRow("pty, SIGINT") << QStringList{u"--pty"_s} << int(SIGINT);
}

// The ready line names where the simulator serves; noise of any kind never stops it answering;
// SIGTERM and SIGINT end it with exit code 0 once the record is written.
void TestBoardSim::garbageAndCleanExit()
{
    QFETCH(QStringList, transport);
    QFETCH(int, signal);
    QTemporaryDir dir;
    QProcess process;
    process.setStandardErrorFile(dir.filePath(u"log"_s)); // so that a chatty log never blocks it
    // An id that reads like a placeholder must reach the log as it is.
    const QByteArray jedec = "JEDEC=C8%1x\r\n";
    process.start(
        QStringLiteral(QVOTA_SIM_EXE),
        QStringList{u"serve"_s, u"--record"_s, dir.filePath(u"record"_s), u"--jedec"_s, u"C8%1x"_s}
            + transport);
    while (!process.canReadLine())
        QVERIFY(process.waitForReadyRead(10000));
    const QString ready = QString::fromUtf8(process.readLine());
    static const QRegularExpression line(
        u"^qvota-board-sim: serving (?:udp 127\\.0\\.0\\.1:([1-9]\\d*)|pty (/dev/\\S+))\n$"_s);
    const auto match = line.match(ready);
    QVERIFY2(match.hasMatch(), qPrintable(ready));
    const std::unique_ptr<Link> link =
        match.captured(1).isEmpty()
            ? std::unique_ptr<Link>(std::make_unique<SerialLink>(match.captured(2), 115200))
            : std::make_unique<UdpLink>(u"127.0.0.1"_s, match.captured(1).toUShort(),
                                        u"127.0.0.1"_s, 0);
    QVERIFY(link->open().ok());
    // Noise of all sizes, framed and not, in command mode (on the pty, garbage in a transfer makes
    // the simulator deaf to commands until a good frame), then a "U" cut short; the answers are
    // read until the line is quiet long enough (100 ms) to drop a half command or frame.
    for (const int size : {1, 2, 5, 7, 100, 261, 262, 263, 1000, 8000}) {
        link->write(pattern_bytes(size, quint32(size)));
        link->write("\xAA\x55" + pattern_bytes(size, quint32(size)));
        while (link->readByte(20) >= 0) {
        }
    }
    link->write("U\x10");
    while (link->readByte(500) >= 0) {
    }
    QVERIFY(exchange(*link, "j", jedec).endsWith(jedec));

    ::kill(pid_t(process.processId()), signal);
    QVERIFY(process.waitForFinished(10000));
    QVERIFY(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0);
    QCOMPARE(process.readAllStandardOutput(), QByteArray()); // nothing but the ready line
    QFile log(dir.filePath(u"log"_s));
    QVERIFY(log.open(QIODevice::ReadOnly) && log.readAll().contains("] j -> JEDEC=C8%1x\n"));
    QFile record(dir.filePath(u"record"_s));
    QVERIFY(record.open(QIODevice::ReadOnly));
    QVERIFY(QJsonDocument::fromJson(record.readAll()).object().value(u"identify"_s).toInt() > 0);
}

void TestBoardSim::ptyReopenedAndNeverFasterThanTheWire()
{
    // At 115200 baud a frame needs its 262 bytes' wire time to arrive, and a reply its own.
    constexpr int baud = 115200;
    const auto wireUs = [](qint64 bytes) { return bytes * 10 * 1000000 / baud; };
    QTemporaryDir dir;
    const QString linkPath = dir.filePath(u"board-tty"_s);
    BoardSim sim;
    QVERIFY(sim.startPty({u"--link"_s, linkPath, u"--baud"_s, QString::number(baud),
                          u"--erase-ms"_s, u"0"_s, u"--noise-lines"_s, u"30"_s}));
    QCOMPARE(QFileInfo(linkPath).symLinkTarget(), sim.ptyPath());
    SerialLink byLink(linkPath, baud), byDevice(sim.ptyPath(), baud);
    QVERIFY(byLink.open().ok());
    QElapsedTimer timer;
    timer.start();
    const QByteArray reply = exchange(byLink, "j", JEDEC); // thirty noise lines, then JEDEC
    QCOMPARE_GE(timer.nsecsElapsed() / 1000, wireUs(1 + reply.size()));
    QVERIFY(reply.endsWith(JEDEC) && reply.size() > 500);

    // The host closes its port after every frame and opens it again, by the link or by the
    // device: the simulator sees no hang-up and the transfer goes on.
    const QByteArray image = pattern_bytes(16 * FRAME_PAYLOAD, 51);
    QCOMPARE(exchange(byLink, erase_command(quint32(image.size())), READY), READY);
    timer.start();
    for (int i = 0; i < 16; ++i) {
        SerialLink &link = i % 2 ? byDevice : byLink;
        QVERIFY(i == 0 || link.open().ok());
        const QByteArray ack = "K" + (i < 15 ? QByteArray() : rxdone(crc32(image)));
        QCOMPARE(exchange(link, build_frame(image, i), ack), ack);
        link.close();
    }
    QCOMPARE_GE(timer.nsecsElapsed() / 1000, wireUs(16 * (262 + 1) + rxdone(0).size()));
    QCOMPARE(sim.stop().value(u"updates"_s).toInt(), 1);
    QVERIFY(sim.exitedCleanly());
    QVERIFY(!QFileInfo(linkPath).isSymLink()); // removed at exit
}
#endif

QTEST_GUILESS_MAIN(TestBoardSim)
#include "tst_boardsim.moc"
