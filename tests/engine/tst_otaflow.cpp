// The update flow against a scripted board: every failure result, the exact log of a run,
// retries, the end-of-transfer text in place of an ack, progress cadence, cancellation, warm boot
// and the time-outs handed to the link.
#include "container.h"
#include "otaflow.h"
#include "scriptedlink.h"
#include "testimages.h"

#include <QRegularExpression>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <tuple>

using qvota::test::ScriptedLink;
using ReadKind = ScriptedLink::ReadKind;
using namespace Qt::StringLiterals;

namespace {

constexpr quint32 IMAGE_CRC = 0x1234abcd;
const QString IDENTIFY_FAILED =
    QStringLiteral("JEDEC check failed (board not in OTA image or flash unreadable)");
const QByteArray RXDONE = "RXDONE CRC32=1234abcd\r\n";

QByteArray image(int size)
{
    return qvota::test::pattern_bytes(size, 42);
}

QByteArray hex8(quint32 crc)
{
    return QByteArray::number(crc, 16).rightJustified(8, '0');
}

// The replies of a well-behaved board by what they answer: "j", "U", "F", "b", "ack" for every
// frame but the last, "last"; tests change the one they are about.
struct Board
{
    explicit Board(quint32 crc = IMAGE_CRC)
        : reply{{u"j"_s, "JEDEC=C86018\r\n"},
                {u"U"_s, "READY\r\n"},
                {u"ack"_s, "K"},
                {u"last"_s, "KRXDONE CRC32=" + hex8(crc) + "\r\n"},
                {u"F"_s, "IMGCRC=" + hex8(crc) + "\r\n"},
                {u"b"_s, ""}}
    {}

    // Rules added to the link earlier (one-use replies of a test) take precedence.
    void install(ScriptedLink &link, int frames) const
    {
        for (const char *command : {"j", "U", "F", "b"})
            link.onCommand(command, reply[QString::fromLatin1(command)]);
        link.onFrame(frames - 1, reply[QStringLiteral("last")]);
        link.onFrame(-1, reply[QStringLiteral("ack")]);
    }

    QHash<QString, QByteArray> reply;
};

qvota::OtaConfig default_config()
{
    qvota::OtaConfig config;
    config.expectedCrc32 = IMAGE_CRC;
    return config;
}

struct Run
{
    QString result;
    QStringList log;
    QList<QPair<int, int>> progress;
};

Run run_flow(ScriptedLink &link, const QByteArray &payload, const qvota::OtaConfig &config,
             const std::atomic_bool *cancel = nullptr)
{
    Run run;
    qvota::OtaCallbacks callbacks;
    callbacks.log = [&run](const QString &line) { run.log.append(line); };
    callbacks.progress = [&run](int done, int total) { run.progress.append({done, total}); };
    callbacks.cancel = cancel;
    run.result = qvota::run_update_flow(link, payload, config, callbacks);
    return run;
}

// A write as a short token: "f<index>" for frames, "U" for the erase command, else its text.
QString write_token(const QByteArray &bytes)
{
    if (const int index = ScriptedLink::frameIndex(bytes); index >= 0)
        return QStringLiteral("f%1").arg(index);
    return bytes.startsWith('U') ? QStringLiteral("U") : QString::fromLatin1(bytes);
}

QString write_tokens(const ScriptedLink &link)
{
    QStringList tokens;
    for (const QByteArray &bytes : link.writes())
        tokens.append(write_token(bytes));
    return tokens.join(QLatin1Char(' '));
}

// Replaces the two timing-dependent numbers so whole logs can be compared; a line in another
// format than expected is left as it is and fails the comparison.
QStringList normalised(QStringList log)
{
    static const QRegularExpression erase(QStringLiteral("^RX> READY \\(erase \\d+\\.\\ds\\)$"));
    static const QRegularExpression done(
        QStringLiteral("^transfer done in \\d+\\.\\ds \\(\\d+ B/s\\)$"));
    for (QString &line : log) {
        if (erase.match(line).hasMatch())
            line = QStringLiteral("RX> READY (erase #s)");
        else if (done.match(line).hasMatch())
            line = QStringLiteral("transfer done in #s (# B/s)");
    }
    return log;
}

QStringList lines_starting_with(const QStringList &log, const QStringList &prefixes)
{
    QStringList found;
    for (const QString &line : log) {
        if (std::any_of(prefixes.begin(), prefixes.end(),
                        [&line](const QString &prefix) { return line.startsWith(prefix); }))
            found.append(line);
    }
    return found;
}

} // namespace

class TestOtaFlow : public QObject
{
    Q_OBJECT

private slots:
    void failures_data();
    void failures();
    void successLog_data();
    void successLog();
    void acknowledgements_data();
    void acknowledgements();
    void progressCadence();
    void timeoutsPassed();
};

void TestOtaFlow::failures_data()
{
    // step names the board reply that reply replaces; "size" takes reply as the image size,
    // "cancel" as the write after which the flag goes up (empty: before the run).
    QTest::addColumn<QString>("step");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("writes");
    QTest::addColumn<QStringList>("timeouts"); // the identify and ack time-out lines

    struct Row
    {
        const char *name;
        const char *step;
        QByteArray reply;
        QString expected;
        const char *writes;
        QStringList timeouts = {};
    };
    QStringList jedecTimeouts;
    QStringList ackTimeouts;
    for (int t = 1; t <= 5; ++t) {
        jedecTimeouts.append(QStringLiteral("jedec timeout try %1/5").arg(t));
        if (t <= 3)
            ackTimeouts.append(QStringLiteral("frame 0 try %1: ack timeout").arg(t));
    }
    const QList<Row> rows = {
        {"empty image", "size", "0", u"file size 0 out of range (1..2097152)"_s, ""},
        {"one byte over 2 MiB", "size", "2097153", u"file size 2097153 out of range (1..2097152)"_s,
         ""},
        {"wrong flash id", "j", "JEDEC=EF4018\r\n", IDENTIFY_FAILED, "j j j j j", jedecTimeouts},
        {"READY with a trailing blank", "U", "READY \r\n",
         u"expected READY after erase, got 'READY '"_s, "j U"},
        {"lower-case ready", "U", "ready\r\n", u"expected READY after erase, got 'ready'"_s, "j U"},
        // The flag is honoured only between steps: an erase under way completes, no frame goes.
        {"cancelled before the run", "cancel", "", IDENTIFY_FAILED, ""},
        {"cancelled during the erase", "cancel", "U", u"cancelled by user"_s, "j U"},
        {"frame never acked", "ack", "", u"frame 0 failed after 3 tries"_s, "j U f0 f0 f0",
         ackTimeouts},
        // A write that fails ends the wait at once, with the link's words, not after the retries.
        {"a frame cannot be written", "fail", "2", u"serial port gone"_s, "j U f0"},
        {"no RXDONE line", "last", "K", u"no RXDONE, got ''"_s, "j U f0 f1"},
        {"other text after the transfer", "last", "KDONE CRC32=1234abcd\r\n",
         u"no RXDONE, got 'DONE CRC32=1234abcd'"_s, "j U f0 f1"},
        {"receive CRC differs", "last", "KRXDONE CRC32=1a2b\r\n",
         u"RX CRC32 mismatch rx=    1a2b file=1234abcd"_s, "j U f0 f1"},
        {"receive CRC unreadable", "last", "KRXDONE CRC32=zz\r\n",
         u"RX CRC32 mismatch rx=       0 file=1234abcd"_s, "j U f0 f1"},
        {"readback error text", "F", "ERR flash\r\n", u"no IMGCRC, got 'ERR flash'"_s,
         "j U f0 f1 F"},
        {"readback CRC differs", "F", "IMGCRC=1234abce\r\n",
         u"IMG CRC32 mismatch img=1234abce file=1234abcd"_s, "j U f0 f1 F"},
        {"readback CRC unreadable", "F", "IMGCRC=\r\n",
         u"IMG CRC32 mismatch img=       0 file=1234abcd"_s, "j U f0 f1 F"},
    };
    for (const Row &row : rows) {
        QTest::newRow(row.name) << row.step << row.reply << row.expected
                                << QString::fromLatin1(row.writes) << row.timeouts;
    }
}

void TestOtaFlow::failures()
{
    QFETCH(QString, step);
    QFETCH(QByteArray, reply);
    QFETCH(QString, expected);
    QFETCH(QString, writes);
    QFETCH(QStringList, timeouts);

    Board board;
    if (board.reply.contains(step))
        board.reply[step] = reply;
    ScriptedLink link;
    board.install(link, 2);
    if (step == QLatin1String("fail"))
        link.failWritesAfter(reply.toInt(), u"serial port gone"_s);
    const QString trigger =
        step == QLatin1String("cancel") ? QString::fromLatin1(reply) : QStringLiteral("-");
    std::atomic_bool cancel{trigger.isEmpty()};
    link.setWriteObserver([&cancel, trigger](const QByteArray &bytes) {
        if (write_token(bytes) == trigger)
            cancel = true;
    });
    qvota::OtaConfig config = default_config();
    config.warmBoot = true;
    const int size = step == QLatin1String("size") ? reply.toInt() : 300;
    const Run run = run_flow(link, image(size), config, &cancel);

    QCOMPARE(run.result, expected);
    // Nothing more is sent once a step has failed, and the run does not claim completion.
    QCOMPARE(write_tokens(link), writes);
    QCOMPARE(lines_starting_with(run.log, {u"jedec "_s, u"frame "_s}), timeouts);
    QVERIFY(!run.log.contains(QStringLiteral("OTA FLOW COMPLETE")));
    QVERIFY(link.reopenCalls().isEmpty());
}

void TestOtaFlow::successLog_data()
{
    QTest::addColumn<bool>("onChipDecrypt");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("skipReopen");
    QTest::addColumn<QByteArray>("banner"); // empty: no warm boot asked for
    QTest::addColumn<QStringList>("warmBootLog");
    QTest::addColumn<QString>("writes");

    const QString reopen = QStringLiteral("reopen transport before warm boot (XREQ-19 mitigation)");
    const QString boot = QStringLiteral("TX> b (warm boot)");

    QTest::newRow("plain image, no warm boot")
        << false << QStringLiteral("2") << false << QByteArray() << QStringList()
        << QStringLiteral("j U f0 f1 F");
    QTest::newRow("warm boot to target 2")
        << true << QStringLiteral("2") << false << QByteArray("QUELVANE APP1 v1.0\r\n")
        << QStringList{reopen, u"TX> 2 (select warm boot target)"_s, boot,
                       u"RX> QUELVANE APP1 v1.0"_s, u"WARM BOOT OK: QUELVANE APP1 v1.0"_s}
        << QStringLiteral("j U f0 f1 F 2 b");
    // Noise does not replace an answer, and text after the last LF never forms a line.
    QTest::newRow("no target, no reopen, the later answer wins")
        << true << QStringLiteral("") << true
        << QByteArray("WB->APP1\r\nQUELVANE APP2\r\nbye\r\nWB->3")
        << QStringList{boot, u"RX> WB->APP1"_s, u"RX> QUELVANE APP2"_s, u"RX> bye"_s,
                       u"WARM BOOT OK: QUELVANE APP2"_s}
        << QStringLiteral("j U f0 f1 F b");
    QTest::newRow("no answer") << true << QStringLiteral("") << false << QByteArray("\r\n")
                               << QStringList{reopen, boot, u"RX> "_s,
                                              u"WARM BOOT OK: WARN: no warm-boot ack seen"_s}
                               << QStringLiteral("j U f0 f1 F b");
}

void TestOtaFlow::successLog()
{
    QFETCH(bool, onChipDecrypt);
    QFETCH(QString, target);
    QFETCH(bool, skipReopen);
    QFETCH(QByteArray, banner);
    QFETCH(QStringList, warmBootLog);
    QFETCH(QString, writes);

    const QByteArray payload = image(300);
    // Without on-chip decryption the board reports the CRC of the bytes it got.
    const quint32 crc = onChipDecrypt ? IMAGE_CRC : qvota::crc32(payload);
    Board board(crc);
    board.reply[QStringLiteral("b")] = banner;
    ScriptedLink link;
    board.install(link, 2);
    const QString note = u"udp: ignored 1 datagram(s) from senders other than the board"_s;
    link.setInputNote(note);
    qvota::OtaConfig config = default_config();
    config.onChipDecrypt = onChipDecrypt;
    config.warmBoot = !banner.isEmpty();
    config.target = target;
    config.skipReopen = skipReopen;
    const Run run = run_flow(link, payload, config);

    QCOMPARE(run.result, QString());
    const QString hex = QString::fromLatin1(hex8(crc));
    const QString announcement =
        QStringLiteral("len=300 frames=2 last=44 crc32=") + hex
        + (onChipDecrypt ? QStringLiteral(" (plaintext, on-chip decrypt)") : QStringLiteral(""));
    const QStringList verified = {announcement,
                                  u"RX> JEDEC=C86018"_s,
                                  u"TX> U len=300 (erasing APP2 slot...)"_s,
                                  u"RX> READY (erase #s)"_s,
                                  u"progress 1/2 (50%)"_s,
                                  u"transfer done in #s (# B/s)"_s,
                                  u"RX> RXDONE CRC32="_s + hex,
                                  u"RX CRC32 match"_s,
                                  u"RX> IMGCRC="_s + hex,
                                  u"IMG CRC32 (flash readback) MATCH - OTA WRITE VERIFIED"_s};
    // What the link set aside is said before the verdict, which ends the transcript.
    QCOMPARE(normalised(run.log),
             (verified + warmBootLog + QStringList{note, u"OTA FLOW COMPLETE"_s}));
    QCOMPARE(write_tokens(link), writes);
    QCOMPARE(link.writes().at(1).toHex(), QByteArray("552c010000"));
    QCOMPARE(link.writes().at(2), qvota::build_frame(payload, 0));
    QCOMPARE(link.writes().at(3), qvota::build_frame(payload, 1));
    QCOMPARE(run.progress, (QList<QPair<int, int>>{{1, 2}, {2, 2}}));
    // Reopened once, after the readback and before anything of the warm boot went out.
    QCOMPARE(link.reopenCalls(), config.warmBoot && !skipReopen ? QList<int>{5} : QList<int>{});
}

void TestOtaFlow::acknowledgements_data()
{
    QTest::addColumn<int>("retries");
    QTest::addColumn<QByteArrayList>("replies"); // for successive frame writes; then silence
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QStringList>("transferLog"); // time-outs, notes and the RXDONE line
    QTest::addColumn<QString>("writes");

    const auto note = [](int count, int frame) {
        return QStringLiteral("note: skipped %1 non-ack byte(s) at frame %2").arg(count).arg(frame);
    };
    const QString rxLine = QStringLiteral("RX> RXDONE CRC32=1234abcd");

    QTest::newRow("lost ack, then acked")
        << 3 << QByteArrayList{"", "K", "K", "K" + RXDONE} << QString()
        << QStringList{u"frame 0 try 1: ack timeout"_s, rxLine}
        << QStringLiteral("j U f0 f0 f1 f2 F");
    QTest::newRow("no tries sends nothing")
        << 0 << QByteArrayList() << QStringLiteral("frame 0 failed after 0 tries") << QStringList()
        << QStringLiteral("j U");
    QTest::newRow("stray bytes, running total")
        << 3 << QByteArrayList{"xK", "K", "yzK" + RXDONE} << QString()
        << QStringList{note(1, 0), note(1, 1), note(3, 2), rxLine}
        << QStringLiteral("j U f0 f1 f2 F");
    // The board queues nothing after these texts, so waiting for a line would fail the run.
    QTest::newRow("RXDONE line instead of the last K")
        << 3 << QByteArrayList{"K", "K", "%#" + RXDONE} << QString() << QStringList{rxLine}
        << QStringLiteral("j U f0 f1 f2 F");
    // The digits must be in before the text is parsed: an LF before the marker does not count.
    QTest::newRow("LF in earlier junk")
        << 3 << QByteArrayList{"\r\nK", "K", RXDONE} << QString()
        << QStringList{note(2, 0), note(2, 1), rxLine} << QStringLiteral("j U f0 f1 f2 F");
    QTest::newRow("RXDONE without LF is no ack")
        << 1 << QByteArrayList{"K", "K", RXDONE.chopped(2)}
        << QStringLiteral("frame 2 failed after 1 tries")
        << QStringList{u"frame 2 try 1: ack timeout"_s} << QStringLiteral("j U f0 f1 f2");
}

void TestOtaFlow::acknowledgements()
{
    QFETCH(int, retries);
    QFETCH(QByteArrayList, replies);
    QFETCH(QString, expected);
    QFETCH(QStringList, transferLog);
    QFETCH(QString, writes);

    ScriptedLink link;
    for (const QByteArray &reply : replies)
        link.onFrame(-1, reply, 1);
    Board board;
    board.reply[QStringLiteral("ack")].clear();
    board.reply[QStringLiteral("last")].clear();
    board.install(link, 3);
    qvota::OtaConfig config = default_config();
    config.retries = retries;
    const Run run = run_flow(link, image(600), config);

    QCOMPARE(run.result, expected);
    QCOMPARE(lines_starting_with(run.log, {u"frame "_s, u"note: "_s, u"RX> RXDONE"_s}),
             transferLog);
    QCOMPARE(write_tokens(link), writes);
}

void TestOtaFlow::progressCadence()
{
    // On the cadence the last frame is reported once, not twice.
    ScriptedLink small;
    Board().install(small, 17);
    const Run run17 = run_flow(small, image(16 * 256 + 1), default_config());
    QCOMPARE(run17.result, QString());
    QCOMPARE(run17.progress, (QList<QPair<int, int>>{{1, 17}, {17, 17}}));
    QCOMPARE(lines_starting_with(run17.log, {u"progress "_s}),
             QStringList{u"progress 1/17 (5%)"_s});

    const QByteArray payload = image(int(qvota::MAX_IMAGE_SIZE));
    ScriptedLink link;
    Board().install(link, 8192);
    QStringList log;
    QList<QPair<int, int>> progress;
    qvota::OtaCallbacks callbacks;
    callbacks.log = [&log](const QString &line) { log.append(line); };
    callbacks.progress = [&](int done, int total) {
        // A callback reports frames already sent, never ahead of the link.
        QCOMPARE(int(link.writes().size()) - 2, done);
        progress.append({done, total});
    };
    QCOMPARE(qvota::run_update_flow(link, payload, default_config(), callbacks), QString());

    QCOMPARE(link.writes().at(1).toHex(), QByteArray("5500002000"));
    QByteArray sent;
    for (int i = 0; i < 8192; ++i) {
        const QByteArray &frame = link.writes().at(2 + i);
        QCOMPARE(ScriptedLink::frameIndex(frame), i);
        sent.append(frame.mid(4, frame.size() - 6));
    }
    QVERIFY(sent == payload);

    QCOMPARE(progress.size(), 513);
    QCOMPARE(progress.mid(0, 2), (QList<QPair<int, int>>{{1, 8192}, {17, 8192}}));
    QCOMPARE(progress.mid(511), (QList<QPair<int, int>>{{8177, 8192}, {8192, 8192}}));
    const QStringList progressLines = lines_starting_with(log, {u"progress "_s});
    QCOMPARE(progressLines.size(), 32);
    QCOMPARE(progressLines.at(0), QStringLiteral("progress 1/8192 (0%)"));
    QCOMPARE(progressLines.at(1), QStringLiteral("progress 257/8192 (3%)"));
    QCOMPARE(progressLines.at(31), QStringLiteral("progress 7937/8192 (96%)"));
}

void TestOtaFlow::timeoutsPassed()
{
    ScriptedLink link;
    Board().install(link, 2);
    qvota::OtaConfig config = default_config();
    config.eraseTimeoutMs = 4321;
    QCOMPARE(run_flow(link, image(300), config).result, QString());

    // Identify and ack waits pass what is left of their window, so allow for elapsed time.
    // Each row: writes made before the read, its kind, and the bounds of its time-out.
    const QList<std::tuple<int, ReadKind, int, int>> expected = {
        {1, ReadKind::Line, 2900, 3000},   {2, ReadKind::Line, 4321, 4321},
        {3, ReadKind::Byte, 14900, 15000}, {4, ReadKind::Byte, 14900, 15000},
        {4, ReadKind::Line, 15000, 15000}, {5, ReadKind::Line, 120000, 120000}};
    QCOMPARE(link.reads().size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const auto &[writesBefore, kind, low, high] = expected[i];
        const ScriptedLink::ReadRequest &read = link.reads().at(i);
        QCOMPARE(read.writesBefore, writesBefore);
        QCOMPARE(read.kind, kind);
        QVERIFY2(read.timeoutMs >= low && read.timeoutMs <= high,
                 qPrintable(QString::number(read.timeoutMs)));
    }
}

QTEST_APPLESS_MAIN(TestOtaFlow)
#include "tst_otaflow.moc"
