// The update flow against a scripted board: every result, the exact log of a run, retries,
// the end-of-transfer text in place of an ack, progress cadence, cancellation and warm boot.
#include "container.h"
#include "otaflow.h"
#include "scriptedlink.h"
#include "testimages.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>

#include <atomic>

using qvota::test::ScriptedLink;
using ReadKind = ScriptedLink::ReadKind;

namespace {

constexpr quint32 IMAGE_CRC = 0x1234abcd;
const QString IDENTIFY_FAILED =
    QStringLiteral("JEDEC check failed (board not in OTA image or flash unreadable)");
const QString CANCELLED = QStringLiteral("cancelled by user");

QByteArray image(int size)
{
    return qvota::test::pattern_bytes(size, 42);
}

ScriptedLink::LineMode line_mode(bool udp)
{
    return udp ? ScriptedLink::LineMode::Udp : ScriptedLink::LineMode::Serial;
}

QByteArray rxdone_line(quint32 crc)
{
    return "RXDONE CRC32=" + QByteArray::number(crc, 16).rightJustified(8, '0') + "\r\n";
}

// The replies of a well-behaved board; tests change the one they are about.
struct Board
{
    explicit Board(quint32 crc = IMAGE_CRC)
        : lastAck("K" + rxdone_line(crc))
        , readback("IMGCRC=" + QByteArray::number(crc, 16).rightJustified(8, '0') + "\r\n")
    {}

    // Rules added to the link earlier (one-use replies of a test) take precedence.
    void install(ScriptedLink &link, int frames) const
    {
        link.onCommand("j", jedec);
        link.onCommand("U", erase);
        link.onFrame(frames - 1, lastAck);
        link.onFrame(-1, ack);
        link.onCommand("F", readback);
        link.onCommand("b", banner);
    }

    QByteArray jedec = "JEDEC=C86018\r\n";
    QByteArray erase = "READY\r\n";
    QByteArray ack = "K";
    QByteArray lastAck;
    QByteArray readback;
    QByteArray banner = "QUELVANE APP1 v1.0\r\n";
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

// The writes as short tokens: "j", "U", "f<index>" for frames, other writes as their text.
QString write_token(const QByteArray &bytes)
{
    if (const int index = ScriptedLink::frameIndex(bytes); index >= 0)
        return QStringLiteral("f%1").arg(index);
    if (bytes.startsWith('U') && bytes.size() == 5)
        return QStringLiteral("U");
    return QString::fromLatin1(bytes);
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
        for (const QString &prefix : prefixes) {
            if (line.startsWith(prefix)) {
                found.append(line);
                break;
            }
        }
    }
    return found;
}

// The lines between the announcement and the erase command: what identification logged.
QStringList identify_section(const QStringList &log)
{
    QStringList section;
    for (int i = 1; i < log.size() && !log[i].startsWith(QLatin1String("TX> U ")); ++i)
        section.append(log[i]);
    return section;
}

// The reads made after the write with this position and before the next write.
QList<ScriptedLink::ReadRequest> reads_after_write(const ScriptedLink &link, int writePosition)
{
    QList<ScriptedLink::ReadRequest> found;
    for (const auto &read : link.reads()) {
        if (read.writesBefore == writePosition + 1)
            found.append(read);
    }
    return found;
}

const QString ANNOUNCEMENT_300 =
    QStringLiteral("len=300 frames=2 last=44 crc32=1234abcd (plaintext, on-chip decrypt)");

// The log of a successful 300-byte run up to and including the readback match.
QStringList verified_log(const QString &announcement, quint32 crc)
{
    const QString hex = QStringLiteral("%1").arg(crc, 8, 16, QLatin1Char('0'));
    return {announcement,
            QStringLiteral("RX> JEDEC=C86018"),
            QStringLiteral("TX> U len=300 (erasing APP2 slot...)"),
            QStringLiteral("RX> READY (erase #s)"),
            QStringLiteral("progress 1/2 (50%)"),
            QStringLiteral("transfer done in #s (# B/s)"),
            QStringLiteral("RX> RXDONE CRC32=") + hex,
            QStringLiteral("RX CRC32 match"),
            QStringLiteral("RX> IMGCRC=") + hex,
            QStringLiteral("IMG CRC32 (flash readback) MATCH - OTA WRITE VERIFIED")};
}

} // namespace

class TestOtaFlow : public QObject
{
    Q_OBJECT

private slots:
    void sizeOutOfRange_data();
    void sizeOutOfRange();
    void largestImage();
    void failures_data();
    void failures();
    void successLog_data();
    void successLog();
    void identify_data();
    void identify();
    void acknowledgements_data();
    void acknowledgements();
    void rxDoneInsteadOfAck_data();
    void rxDoneInsteadOfAck();
    void crcParsing_data();
    void crcParsing();
    void progressCadence_data();
    void progressCadence();
    void cancellation_data();
    void cancellation();
    void warmBootAnswer_data();
    void warmBootAnswer();
    void timeoutsPassed();
    void timingLines();
};

void TestOtaFlow::sizeOutOfRange_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << 0 << QStringLiteral("file size 0 out of range (1..2097152)");
    QTest::newRow("one byte too many")
        << int(qvota::MAX_IMAGE_SIZE) + 1
        << QStringLiteral("file size 2097153 out of range (1..2097152)");
}

void TestOtaFlow::sizeOutOfRange()
{
    QFETCH(int, size);
    QFETCH(QString, expected);

    ScriptedLink link;
    Board().install(link, 1);
    const Run run = run_flow(link, QByteArray(size, 'x'), default_config());
    QCOMPARE(run.result, expected);
    QVERIFY(run.log.isEmpty());
    QVERIFY(link.writes().isEmpty());
    QVERIFY(link.reads().isEmpty());
    QVERIFY(link.clearInputCalls().isEmpty());
}

void TestOtaFlow::largestImage()
{
    const QByteArray payload = image(int(qvota::MAX_IMAGE_SIZE));
    ScriptedLink link(ScriptedLink::LineMode::Udp);
    Board().install(link, 8192);
    int framesWritten = 0;
    link.setWriteObserver([&framesWritten](const QByteArray &bytes) {
        framesWritten += ScriptedLink::frameIndex(bytes) >= 0 ? 1 : 0;
    });
    QList<int> framesAtCallback;
    qvota::OtaCallbacks callbacks;
    QStringList log;
    QList<QPair<int, int>> progress;
    callbacks.log = [&log](const QString &line) { log.append(line); };
    callbacks.progress = [&](int done, int total) {
        progress.append({done, total});
        framesAtCallback.append(framesWritten);
    };

    QCOMPARE(qvota::run_update_flow(link, payload, default_config(), callbacks), QString());

    QCOMPARE(log.first(), QStringLiteral("len=2097152 frames=8192 last=256 crc32=1234abcd "
                                         "(plaintext, on-chip decrypt)"));
    QCOMPARE(link.writes().at(1).toHex(), QByteArray("5500002000"));

    // Every slice goes out once, in order, and the frames carry exactly the payload.
    const QList<int> indices = link.frameIndices();
    QCOMPARE(indices.size(), 8192);
    QByteArray sent;
    for (int i = 0; i < indices.size(); ++i) {
        QCOMPARE(indices[i], i);
        const QByteArray &frame = link.writes().at(2 + i);
        QCOMPARE(frame.size(), 262);
        sent.append(frame.mid(4, 256));
    }
    QVERIFY(sent == payload);

    QCOMPARE(progress.size(), 513);
    QCOMPARE(progress.at(0), qMakePair(1, 8192));
    QCOMPARE(progress.at(1), qMakePair(17, 8192));
    QCOMPARE(progress.at(511), qMakePair(8177, 8192));
    QCOMPARE(progress.at(512), qMakePair(8192, 8192));
    // A callback reports frames already sent, never ahead of the link.
    for (int k = 0; k < progress.size(); ++k)
        QCOMPARE(framesAtCallback[k], progress[k].first);

    const QStringList progressLines = lines_starting_with(log, {QStringLiteral("progress ")});
    QCOMPARE(progressLines.size(), 32);
    QCOMPARE(progressLines.at(0), QStringLiteral("progress 1/8192 (0%)"));
    QCOMPARE(progressLines.at(1), QStringLiteral("progress 257/8192 (3%)"));
    QCOMPARE(progressLines.at(31), QStringLiteral("progress 7937/8192 (96%)"));
}

void TestOtaFlow::failures_data()
{
    QTest::addColumn<bool>("udp");
    QTest::addColumn<QString>("step");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("writes");

    struct Row
    {
        const char *name;
        const char *step;
        QByteArray reply;
        QString expected;
        const char *writes;
    };
    const QList<Row> rows = {
        {"wrong flash id", "jedec", "JEDEC=EF4018\r\n", IDENTIFY_FAILED, "j j j j j"},
        {"no identify reply", "jedec", "", IDENTIFY_FAILED, "j j j j j"},
        {"lower-case marker", "jedec", "jedec=C86018\r\n", IDENTIFY_FAILED, "j j j j j"},
        {"no erase reply", "erase", "", "expected READY after erase, got ''", "j U"},
        {"READY with a trailing blank", "erase", "READY \r\n",
         "expected READY after erase, got 'READY '", "j U"},
        {"lower-case ready", "erase", "ready\r\n", "expected READY after erase, got 'ready'",
         "j U"},
        {"erase error text", "erase", "ERASE FAIL\r\n",
         "expected READY after erase, got 'ERASE FAIL'", "j U"},
        {"first frame never acked", "ack", "", "frame 0 failed after 2 tries", "j U f0 f0"},
        {"last frame never acked", "last", "", "frame 1 failed after 2 tries", "j U f0 f1 f1"},
        {"no RXDONE line", "last", "K", "no RXDONE, got ''", "j U f0 f1"},
        {"other text after the transfer", "last", "KDONE CRC32=1234abcd\r\n",
         "no RXDONE, got 'DONE CRC32=1234abcd'", "j U f0 f1"},
        {"receive CRC differs", "last", "KRXDONE CRC32=deadbeef\r\n",
         "RX CRC32 mismatch rx=deadbeef file=1234abcd", "j U f0 f1"},
        {"receive CRC unreadable", "last", "KRXDONE CRC32=zz\r\n",
         "RX CRC32 mismatch rx=       0 file=1234abcd", "j U f0 f1"},
        {"no readback reply", "readback", "", "no IMGCRC, got ''", "j U f0 f1 F"},
        {"readback error text", "readback", "ERR flash\r\n", "no IMGCRC, got 'ERR flash'",
         "j U f0 f1 F"},
        {"readback CRC differs", "readback", "IMGCRC=1a2b\r\n",
         "IMG CRC32 mismatch img=    1a2b file=1234abcd", "j U f0 f1 F"},
        {"readback CRC unreadable", "readback", "IMGCRC=\r\n",
         "IMG CRC32 mismatch img=       0 file=1234abcd", "j U f0 f1 F"},
    };
    for (const bool udp : {false, true}) {
        for (const Row &row : rows) {
            QTest::addRow("%s: %s", udp ? "udp" : "serial", row.name)
                << udp << QString::fromLatin1(row.step) << row.reply << row.expected
                << QString::fromLatin1(row.writes);
        }
    }
}

void TestOtaFlow::failures()
{
    QFETCH(bool, udp);
    QFETCH(QString, step);
    QFETCH(QByteArray, reply);
    QFETCH(QString, expected);
    QFETCH(QString, writes);

    Board board;
    if (step == QLatin1String("jedec"))
        board.jedec = reply;
    else if (step == QLatin1String("erase"))
        board.erase = reply;
    else if (step == QLatin1String("ack"))
        board.ack = reply;
    else if (step == QLatin1String("last"))
        board.lastAck = reply;
    else
        board.readback = reply;

    ScriptedLink link(line_mode(udp));
    board.install(link, 2);
    qvota::OtaConfig config = default_config();
    config.retries = 2;
    config.warmBoot = true;
    const Run run = run_flow(link, image(300), config);

    QCOMPARE(run.result, expected);
    // Nothing more is sent once a step has failed, and the run does not claim completion.
    QCOMPARE(write_tokens(link), writes);
    QVERIFY(!run.log.contains(QStringLiteral("OTA FLOW COMPLETE")));
    QVERIFY(link.reopenCalls().isEmpty());
}

void TestOtaFlow::successLog_data()
{
    QTest::addColumn<bool>("udp");
    QTest::addColumn<bool>("onChipDecrypt");
    QTest::addColumn<bool>("warmBoot");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("skipReopen");
    QTest::addColumn<QByteArray>("banner");
    QTest::addColumn<QStringList>("warmBootLog");
    QTest::addColumn<QString>("writes");

    const QString reopenLine =
        QStringLiteral("reopen transport before warm boot (XREQ-19 mitigation)");
    const QString bootLine = QStringLiteral("TX> b (warm boot)");
    const QByteArray banner = "QUELVANE APP1 v1.0\r\n";
    const QStringList answered = {QStringLiteral("RX> QUELVANE APP1 v1.0"),
                                  QStringLiteral("WARM BOOT OK: QUELVANE APP1 v1.0")};

    QTest::newRow("serial, no warm boot")
        << false << true << false << QString() << false << banner << QStringList() << "j U f0 f1 F";
    QTest::newRow("udp, no warm boot")
        << true << true << false << QString() << false << banner << QStringList() << "j U f0 f1 F";
    QTest::newRow("target alone does not warm-boot")
        << false << true << false << "2" << false << banner << QStringList() << "j U f0 f1 F";
    QTest::newRow("serial, warm boot, no target")
        << false << true << true << QString() << false << banner
        << QStringList{reopenLine, bootLine} + answered << "j U f0 f1 F b";
    QTest::newRow("udp, warm boot, target 2")
        << true << true << true << "2" << false << banner
        << QStringList{reopenLine, QStringLiteral("TX> 2 (select warm boot target)"), bootLine}
               + answered
        << "j U f0 f1 F 2 b";
    QTest::newRow("serial, warm boot, target 1, reopen skipped")
        << false << true << true << "1" << true << banner
        << QStringList{QStringLiteral("TX> 1 (select warm boot target)"), bootLine} + answered
        << "j U f0 f1 F 1 b";
    QTest::newRow("udp, warm boot, no answer")
        << true << true << true << QString() << false << QByteArray()
        << QStringList{reopenLine, bootLine,
                       QStringLiteral("WARM BOOT OK: WARN: no warm-boot ack seen")}
        << "j U f0 f1 F b";
    QTest::newRow("serial, plain image CRC") << false << false << false << QString() << false
                                             << banner << QStringList() << "j U f0 f1 F";
}

void TestOtaFlow::successLog()
{
    QFETCH(bool, udp);
    QFETCH(bool, onChipDecrypt);
    QFETCH(bool, warmBoot);
    QFETCH(QString, target);
    QFETCH(bool, skipReopen);
    QFETCH(QByteArray, banner);
    QFETCH(QStringList, warmBootLog);
    QFETCH(QString, writes);

    const QByteArray payload = image(300);
    // Without on-chip decryption the board reports the CRC of the bytes it got.
    const quint32 crc = onChipDecrypt ? IMAGE_CRC : qvota::crc32(payload);
    Board board(crc);
    board.banner = banner;
    ScriptedLink link(line_mode(udp));
    board.install(link, 2);
    QElapsedTimer clock;
    clock.start();
    QList<qint64> writtenAtNs;
    link.setWriteObserver([&](const QByteArray &) { writtenAtNs.append(clock.nsecsElapsed()); });

    qvota::OtaConfig config = default_config();
    config.onChipDecrypt = onChipDecrypt;
    config.warmBoot = warmBoot;
    config.target = target;
    config.skipReopen = skipReopen;
    config.bannerWindowMs = 5000;
    const Run run = run_flow(link, payload, config);

    QCOMPARE(run.result, QString());
    const QString announcement =
        onChipDecrypt
            ? ANNOUNCEMENT_300
            : QStringLiteral("len=300 frames=2 last=44 crc32=%1").arg(crc, 8, 16, QLatin1Char('0'));
    QCOMPARE(normalised(run.log), verified_log(announcement, crc) + warmBootLog
                                      + QStringList{QStringLiteral("OTA FLOW COMPLETE")});
    QCOMPARE(write_tokens(link), writes);
    QCOMPARE(link.writes().at(1).toHex(), QByteArray("552c010000"));
    QCOMPARE(link.writes().at(2), qvota::build_frame(payload, 0));
    QCOMPARE(link.writes().at(3), qvota::build_frame(payload, 1));
    QCOMPARE(run.progress, (QList<QPair<int, int>>{{1, 2}, {2, 2}}));
    QCOMPARE(link.clearInputCalls(), QList<int>{0});

    // Reopened once, after the readback and before anything of the warm boot went out.
    const QList<int> expectedReopen = warmBoot && !skipReopen ? QList<int>{5} : QList<int>{};
    QCOMPARE(link.reopenCalls(), expectedReopen);

    if (warmBoot && !target.isEmpty()) {
        const int targetWrite = int(link.writes().size()) - 2;
        QCOMPARE(link.writes().at(targetWrite), target.toLatin1());
        const qint64 pauseMs =
            (writtenAtNs.at(targetWrite + 1) - writtenAtNs.at(targetWrite)) / 1000000;
        QVERIFY2(pauseMs >= 190, qPrintable(QStringLiteral("pause %1 ms").arg(pauseMs)));
    }
}

void TestOtaFlow::identify_data()
{
    QTest::addColumn<bool>("udp");
    QTest::addColumn<QByteArray>("staleInput");
    QTest::addColumn<QByteArrayList>("replies"); // one per "j"; later ones stay unanswered
    QTest::addColumn<QStringList>("expectedLog");
    QTest::addColumn<int>("tries");
    QTest::addColumn<bool>("identified");

    const auto timeout = [](int t) { return QStringLiteral("jedec timeout try %1/5").arg(t); };
    const QStringList fiveTimeouts = {timeout(1), timeout(2), timeout(3), timeout(4), timeout(5)};

    QTest::newRow("serial, first try")
        << false << QByteArray() << QByteArrayList{"JEDEC=C86018\r\n"}
        << QStringList{"RX> JEDEC=C86018"} << 1 << true;
    QTest::newRow("udp, first try") << true << QByteArray() << QByteArrayList{"JEDEC=C86018\r\n"}
                                    << QStringList{"RX> JEDEC=C86018"} << 1 << true;
    QTest::newRow("serial, wrong id five times")
        << false << QByteArray() << QByteArrayList(5, "JEDEC=EF4018\r\n")
        << QStringList{"RX> JEDEC=EF4018", timeout(1), "RX> JEDEC=EF4018", timeout(2),
                       "RX> JEDEC=EF4018", timeout(3), "RX> JEDEC=EF4018", timeout(4),
                       "RX> JEDEC=EF4018", timeout(5)}
        << 5 << false;
    QTest::newRow("udp, silent board")
        << true << QByteArray() << QByteArrayList() << fiveTimeouts << 5 << false;
    QTest::newRow("serial, noise lines before the id")
        << false << QByteArray() << QByteArrayList{"boot v1.2\r\n\r\nJEDEC=C86018\r\n"}
        << QStringList{"RX> boot v1.2", "RX> ", "RX> JEDEC=C86018"} << 1 << true;
    // The UDP link hands out everything buffered as one line.
    QTest::newRow("udp, noise lines before the id")
        << true << QByteArray() << QByteArrayList{"boot v1.2\r\n\r\nJEDEC=C86018\r\n"}
        << QStringList{"RX> boot v1.2JEDEC=C86018"} << 1 << true;
    QTest::newRow("serial, noise only, then wrong id, then id")
        << false << QByteArray()
        << QByteArrayList{"hello\r\n", "JEDEC=000000\r\n", "JEDEC=C86018\r\n"}
        << QStringList{"RX> hello", timeout(1), "RX> JEDEC=000000", timeout(2), "RX> JEDEC=C86018"}
        << 3 << true;
    QTest::newRow("serial, id anywhere in the line")
        << false << QByteArray() << QByteArrayList{"C86018 <- JEDEC=\r\n"}
        << QStringList{"RX> C86018 <- JEDEC="} << 1 << true;
    QTest::newRow("serial, lower-case marker is noise")
        << false << QByteArray() << QByteArrayList(5, "jedec=C86018\r\n")
        << QStringList{"RX> jedec=C86018", timeout(1), "RX> jedec=C86018", timeout(2),
                       "RX> jedec=C86018", timeout(3), "RX> jedec=C86018", timeout(4),
                       "RX> jedec=C86018", timeout(5)}
        << 5 << false;
    // A JEDEC line ends its try even when a good line is already waiting behind it.
    QTest::newRow("serial, wrong id ends the try")
        << false << QByteArray() << QByteArrayList{"JEDEC=EF4018\r\nJEDEC=C86018\r\n"}
        << QStringList{"RX> JEDEC=EF4018", timeout(1), "RX> JEDEC=C86018"} << 2 << true;
    QTest::newRow("serial, unterminated line is lost")
        << false << QByteArray() << QByteArrayList(5, "JEDEC=C86018") << fiveTimeouts << 5 << false;
    QTest::newRow("udp, unterminated line is whole")
        << true << QByteArray() << QByteArrayList{"JEDEC=C86018"} << QStringList{"RX> JEDEC=C86018"}
        << 1 << true;
    QTest::newRow("serial, stale reply before the start is dropped")
        << false << QByteArray("JEDEC=C86018\r\n") << QByteArrayList() << fiveTimeouts << 5
        << false;
    QTest::newRow("udp, stale reply before the start is dropped")
        << true << QByteArray("JEDEC=C86018\r\n") << QByteArrayList() << fiveTimeouts << 5 << false;
}

void TestOtaFlow::identify()
{
    QFETCH(bool, udp);
    QFETCH(QByteArray, staleInput);
    QFETCH(QByteArrayList, replies);
    QFETCH(QStringList, expectedLog);
    QFETCH(int, tries);
    QFETCH(bool, identified);

    ScriptedLink link(line_mode(udp));
    link.enqueueInput(staleInput);
    for (const QByteArray &reply : replies)
        link.onCommand("j", reply, 1);
    Board board;
    board.jedec.clear();
    board.install(link, 2);
    const Run run = run_flow(link, image(300), default_config());

    QCOMPARE(run.result, identified ? QString() : IDENTIFY_FAILED);
    QCOMPARE(identify_section(run.log), expectedLog);
    QCOMPARE(write_tokens(link), QStringList(tries, QStringLiteral("j")).join(QLatin1Char(' '))
                                     + (identified ? QStringLiteral(" U f0 f1 F") : QString()));
}

void TestOtaFlow::acknowledgements_data()
{
    QTest::addColumn<bool>("udp");
    QTest::addColumn<int>("retries");
    QTest::addColumn<QByteArrayList>("replies"); // for successive frame writes, then "K"
    QTest::addColumn<int>("lostWrites");         // frame writes that never reach the board
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QStringList>("transferLog"); // ack time-outs and notes
    QTest::addColumn<QList<int>>("frames");

    QTest::newRow("serial, every frame acked") << false << 3 << QByteArrayList() << 0 << QString()
                                               << QStringList() << QList<int>{0, 1, 2, 3};
    QTest::newRow("udp, lost ack, then acked")
        << true << 3 << QByteArrayList{""} << 0 << QString()
        << QStringList{"frame 0 try 1: ack timeout"} << QList<int>{0, 0, 1, 2, 3};
    QTest::newRow("serial, frame lost on the way, sent again")
        << false << 3 << QByteArrayList() << 1 << QString()
        << QStringList{"frame 0 try 1: ack timeout"} << QList<int>{0, 0, 1, 2, 3};
    QTest::newRow("serial, never acked, 3 tries")
        << false << 3 << QByteArrayList{"", "", ""} << 0 << "frame 0 failed after 3 tries"
        << QStringList{"frame 0 try 1: ack timeout", "frame 0 try 2: ack timeout",
                       "frame 0 try 3: ack timeout"}
        << QList<int>{0, 0, 0};
    QTest::newRow("serial, third frame never acked, 1 try")
        << false << 1 << QByteArrayList{"K", "K", ""} << 0 << "frame 2 failed after 1 tries"
        << QStringList{"frame 2 try 1: ack timeout"} << QList<int>{0, 1, 2};
    QTest::newRow("serial, 0 retries sends nothing")
        << false << 0 << QByteArrayList() << 0 << "frame 0 failed after 0 tries" << QStringList()
        << QList<int>();
    QTest::newRow("udp, negative retries sends nothing")
        << true << -2 << QByteArrayList() << 0 << "frame 0 failed after -2 tries" << QStringList()
        << QList<int>();
    // The count is a running total since the transfer began and repeats after every frame.
    QTest::newRow("serial, stray bytes accumulate")
        << false << 3 << QByteArrayList{"xK", "K", "yzK"} << 0 << QString()
        << QStringList{"note: skipped 1 non-ack byte(s) at frame 0",
                       "note: skipped 1 non-ack byte(s) at frame 1",
                       "note: skipped 3 non-ack byte(s) at frame 2",
                       "note: skipped 3 non-ack byte(s) at frame 3"}
        << QList<int>{0, 1, 2, 3};
    QTest::newRow("udp, stray bytes then a time-out")
        << true << 3 << QByteArrayList{"ab", "K"} << 0 << QString()
        << QStringList{"frame 0 try 1: ack timeout", "note: skipped 2 non-ack byte(s) at frame 0",
                       "note: skipped 2 non-ack byte(s) at frame 1",
                       "note: skipped 2 non-ack byte(s) at frame 2",
                       "note: skipped 2 non-ack byte(s) at frame 3"}
        << QList<int>{0, 0, 1, 2, 3};
    QTest::newRow("serial, stray bytes on a frame that fails")
        << false << 2 << QByteArrayList{"K", "?", "!"} << 0 << "frame 1 failed after 2 tries"
        << QStringList{"frame 1 try 1: ack timeout", "frame 1 try 2: ack timeout",
                       "note: skipped 2 non-ack byte(s) at frame 1"}
        << QList<int>{0, 1, 1};
    // Bytes behind the K belong to the next wait; the K alone acknowledges.
    QTest::newRow("serial, two acks at once")
        << false << 3 << QByteArrayList{"KK", ""} << 0 << QString() << QStringList()
        << QList<int>{0, 1, 2, 3};
}

void TestOtaFlow::acknowledgements()
{
    QFETCH(bool, udp);
    QFETCH(int, retries);
    QFETCH(QByteArrayList, replies);
    QFETCH(int, lostWrites);
    QFETCH(QString, expected);
    QFETCH(QStringList, transferLog);
    QFETCH(QList<int>, frames);

    ScriptedLink link(line_mode(udp));
    for (const QByteArray &reply : replies)
        link.onFrame(-1, reply, 1);
    Board().install(link, 4);
    link.setWriteObserver([&link, lostWrites](const QByteArray &bytes) {
        if (bytes.startsWith('U'))
            link.failNextWrites(lostWrites);
    });
    qvota::OtaConfig config = default_config();
    config.retries = retries;
    const Run run = run_flow(link, image(1000), config);

    QCOMPARE(run.result, expected);
    QCOMPARE(lines_starting_with(run.log, {QStringLiteral("frame "), QStringLiteral("note: ")}),
             transferLog);
    QCOMPARE(link.frameIndices(), frames);
}

void TestOtaFlow::rxDoneInsteadOfAck_data()
{
    QTest::addColumn<bool>("udp");
    QTest::addColumn<QByteArrayList>("replies"); // for successive frame writes
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QStringList>("expectedLog"); // everything after the erase

    const QString progress = QStringLiteral("progress 1/2 (50%)");
    const QString done = QStringLiteral("transfer done in #s (# B/s)");
    const QStringList transferred = {progress, done};
    const QStringList verified = {
        "RX> RXDONE CRC32=1234abcd", "RX CRC32 match", "RX> IMGCRC=1234abcd",
        "IMG CRC32 (flash readback) MATCH - OTA WRITE VERIFIED", "OTA FLOW COMPLETE"};
    const auto note = [](int count) {
        return QStringLiteral("note: skipped %1 non-ack byte(s) at frame 0").arg(count);
    };

    for (const bool udp : {false, true}) {
        const char *mode = udp ? "udp" : "serial";
        QTest::addRow("%s: LF only", mode) << udp << QByteArrayList{"K", "RXDONE CRC32=1234abcd\n"}
                                           << QString() << transferred + verified;
        QTest::addRow("%s: CR LF", mode) << udp << QByteArrayList{"K", "RXDONE CRC32=1234abcd\r\n"}
                                         << QString() << transferred + verified;
        QTest::addRow("%s: junk before the text", mode)
            << udp << QByteArrayList{"K", "%#RXDONE CRC32=1234abcd\r\n"} << QString()
            << transferred + verified;
        // Once the text is in, the junk of earlier frames no longer earns a note.
        QTest::addRow("%s: junk from an earlier frame", mode)
            << udp << QByteArrayList{"@K", "RXDONE CRC32=1234abcd\r\n"} << QString()
            << QStringList{note(1)} + transferred + verified;
        // The digits must be in before the text is parsed, so an LF that came before the
        // marker does not complete it.
        QTest::addRow("%s: line break in earlier junk", mode)
            << udp << QByteArrayList{"\r\nK", "RXDONE CRC32=1234abcd\r\n"} << QString()
            << QStringList{note(2)} + transferred + verified;
        QTest::addRow("%s: short CRC that differs", mode)
            << udp << QByteArrayList{"K", "RXDONE CRC32=1a2b\n"}
            << "RX CRC32 mismatch rx=    1a2b file=1234abcd"
            << transferred + QStringList{"RX> RXDONE CRC32=1a2b"};
        QTest::addRow("%s: non-hex CRC", mode) << udp << QByteArrayList{"K", "RXDONE CRC32=ok\n"}
                                               << "RX CRC32 mismatch rx=       0 file=1234abcd"
                                               << transferred + QStringList{"RX> RXDONE CRC32=ok"};
        QTest::addRow("%s: text without LF is no ack", mode)
            << udp << QByteArrayList{"K", "RXDONE CRC32=1234abcd"} << "frame 1 failed after 2 tries"
            << QStringList{progress, "frame 1 try 1: ack timeout", "frame 1 try 2: ack timeout"};
    }
}

void TestOtaFlow::rxDoneInsteadOfAck()
{
    QFETCH(bool, udp);
    QFETCH(QByteArrayList, replies);
    QFETCH(QString, expected);
    QFETCH(QStringList, expectedLog);

    ScriptedLink link(line_mode(udp));
    for (const QByteArray &reply : replies)
        link.onFrame(-1, reply, 1);
    Board board;
    board.ack.clear();
    board.lastAck.clear();
    board.install(link, 2);
    qvota::OtaConfig config = default_config();
    config.retries = 2;
    const Run run = run_flow(link, image(300), config);

    QCOMPARE(run.result, expected);
    QCOMPARE(normalised(run.log).mid(4), expectedLog);
    // The text arrived with the acks: no line is waited for between the transfer and "F".
    for (const auto &read : link.reads())
        QVERIFY(read.kind != ReadKind::Line || read.writesBefore != 4);
}

void TestOtaFlow::crcParsing_data()
{
    QTest::addColumn<uint>("crc");
    QTest::addColumn<QByteArray>("rxdone");
    QTest::addColumn<QByteArray>("imgcrc");
    QTest::addColumn<QString>("expected");

    QTest::newRow("upper-case digits") << 0x1234abcdu << QByteArray("RXDONE CRC32=1234ABCD")
                                       << QByteArray("IMGCRC=1234ABCD") << QString();
    QTest::newRow("fewer than 8 digits")
        << 0x1a2bu << QByteArray("RXDONE CRC32=1a2b") << QByteArray("IMGCRC=00001a2b") << QString();
    QTest::newRow("only the first 8 characters count")
        << 0x1234abcdu << QByteArray("RXDONE CRC32=1234abcd99") << QByteArray("IMGCRC=1234abcdEF")
        << QString();
    QTest::newRow("text before the markers") << 0x5u << QByteArray("rx: RXDONE CRC32=5")
                                             << QByteArray("flash IMGCRC=00000005") << QString();
    QTest::newRow("zero CRC") << 0u << QByteArray("RXDONE CRC32=00000000") << QByteArray("IMGCRC=0")
                              << QString();
    // An unreadable CRC is a failure even when the expected value is 0.
    QTest::newRow("unreadable receive CRC, expected 0")
        << 0u << QByteArray("RXDONE CRC32=xyz") << QByteArray("IMGCRC=0")
        << "RX CRC32 mismatch rx=       0 file=       0";
    QTest::newRow("empty receive CRC")
        << 0u << QByteArray("RXDONE CRC32=") << QByteArray("IMGCRC=0")
        << "RX CRC32 mismatch rx=       0 file=       0";
    QTest::newRow("split at the first CRC32=")
        << 0x1234abcdu << QByteArray("RXDONE CRC32=zz CRC32=1234abcd")
        << QByteArray("IMGCRC=1234abcd") << "RX CRC32 mismatch rx=       0 file=1234abcd";
    QTest::newRow("receive CRC differs, short values")
        << 0xabcu << QByteArray("RXDONE CRC32=1a2b") << QByteArray("IMGCRC=abc")
        << "RX CRC32 mismatch rx=    1a2b file=     abc";
    QTest::newRow("unreadable readback CRC, expected 0")
        << 0u << QByteArray("RXDONE CRC32=0") << QByteArray("IMGCRC=g")
        << "IMG CRC32 mismatch img=       0 file=       0";
    QTest::newRow("readback CRC differs")
        << 0x1234abcdu << QByteArray("RXDONE CRC32=1234abcd") << QByteArray("IMGCRC=1234abce")
        << "IMG CRC32 mismatch img=1234abce file=1234abcd";
}

void TestOtaFlow::crcParsing()
{
    QFETCH(uint, crc);
    QFETCH(QByteArray, rxdone);
    QFETCH(QByteArray, imgcrc);
    QFETCH(QString, expected);

    Board board(crc);
    board.lastAck = "K" + rxdone + "\r\n";
    board.readback = imgcrc + "\r\n";
    ScriptedLink link;
    board.install(link, 2);
    qvota::OtaConfig config = default_config();
    config.expectedCrc32 = crc;
    const Run run = run_flow(link, image(300), config);

    QCOMPARE(run.result, expected);
    QCOMPARE(run.log.first(), QStringLiteral("len=300 frames=2 last=44 crc32=%1 "
                                             "(plaintext, on-chip decrypt)")
                                  .arg(crc, 8, 16, QLatin1Char('0')));
    QVERIFY(run.log.contains(QStringLiteral("RX> ") + QString::fromLatin1(rxdone)));
}

void TestOtaFlow::progressCadence_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("callbacks"); // frames done at each callback
    QTest::addColumn<QStringList>("progressLog");

    QTest::newRow("one byte") << 1 << QList<int>{1} << QStringList{"progress 1/1 (100%)"};
    QTest::newRow("17 frames: the 17th is both")
        << 16 * 256 + 1 << QList<int>{1, 17} << QStringList{"progress 1/17 (5%)"};
    QTest::newRow("33 frames") << 33 * 256 - 5 << QList<int>{1, 17, 33}
                               << QStringList{"progress 1/33 (3%)"};
    QTest::newRow("34 frames") << 34 * 256 << QList<int>{1, 17, 33, 34}
                               << QStringList{"progress 1/34 (2%)"};
    QTest::newRow("257 frames") << 257 * 256
                                << QList<int>{1,   17,  33,  49,  65,  81,  97,  113, 129,
                                              145, 161, 177, 193, 209, 225, 241, 257}
                                << QStringList{"progress 1/257 (0%)", "progress 257/257 (100%)"};
}

void TestOtaFlow::progressCadence()
{
    QFETCH(int, size);
    QFETCH(QList<int>, callbacks);
    QFETCH(QStringList, progressLog);

    const int frames = (size + 255) / 256;
    ScriptedLink link;
    Board().install(link, frames);
    const Run run = run_flow(link, image(size), default_config());

    QCOMPARE(run.result, QString());
    QList<QPair<int, int>> expected;
    for (const int done : callbacks)
        expected.append({done, frames});
    QCOMPARE(run.progress, expected);
    QCOMPARE(lines_starting_with(run.log, {QStringLiteral("progress ")}), progressLog);
}

void TestOtaFlow::cancellation_data()
{
    QTest::addColumn<QString>("trigger"); // the write that raises the flag; empty: before the run
    QTest::addColumn<bool>("silentBoard");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("writes");
    QTest::addColumn<QString>("lastLog");

    QTest::newRow("before the run")
        << QString() << false << IDENTIFY_FAILED << QString()
        << "len=1280 frames=5 last=256 crc32=1234abcd (plaintext, on-chip decrypt)";
    QTest::newRow("during the first identify try") << "j" << true << IDENTIFY_FAILED << "j"
                                                   << "jedec timeout try 1/5";
    QTest::newRow("during the erase wait") << "U" << false << CANCELLED << "j U"
                                           << "RX> READY (erase #s)";
    QTest::newRow("during an ack wait") << "f2" << false << CANCELLED << "j U f0 f1 f2"
                                        << "progress 1/5 (20%)";
    QTest::newRow("after the last frame") << "f4" << false << QString() << "j U f0 f1 f2 f3 f4 F"
                                          << "OTA FLOW COMPLETE";
    QTest::newRow("during the readback") << "F" << false << QString() << "j U f0 f1 f2 f3 f4 F"
                                         << "OTA FLOW COMPLETE";
}

void TestOtaFlow::cancellation()
{
    QFETCH(QString, trigger);
    QFETCH(bool, silentBoard);
    QFETCH(QString, expected);
    QFETCH(QString, writes);
    QFETCH(QString, lastLog);

    std::atomic_bool cancel{trigger.isEmpty()};
    ScriptedLink link;
    Board board;
    if (silentBoard)
        board.jedec.clear();
    board.install(link, 5);
    link.setWriteObserver([&cancel, trigger](const QByteArray &bytes) {
        if (write_token(bytes) == trigger)
            cancel = true;
    });
    const Run run = run_flow(link, image(5 * 256), default_config(), &cancel);

    QCOMPARE(run.result, expected);
    QCOMPARE(write_tokens(link), writes);
    QCOMPARE(normalised(run.log).last(), lastLog);
    QVERIFY(cancel.load()); // read, never cleared
}

void TestOtaFlow::warmBootAnswer_data()
{
    QTest::addColumn<bool>("udp");
    QTest::addColumn<QByteArray>("banner");
    QTest::addColumn<QStringList>("expectedLog"); // after "TX> b (warm boot)"

    const QString warn = QStringLiteral("WARM BOOT OK: WARN: no warm-boot ack seen");
    for (const bool udp : {false, true}) {
        const char *mode = udp ? "udp" : "serial";
        QTest::addRow("%s: one answer", mode)
            << udp << QByteArray("QUELVANE APP1 v3\r\n")
            << QStringList{"RX> QUELVANE APP1 v3", "WARM BOOT OK: QUELVANE APP1 v3"};
        QTest::addRow("%s: the later answer wins", mode)
            << udp << QByteArray("WB->APP1\r\nQUELVANE APP2\r\n")
            << QStringList{"RX> WB->APP1", "RX> QUELVANE APP2", "WARM BOOT OK: QUELVANE APP2"};
        QTest::addRow("%s: noise does not replace an answer", mode)
            << udp << QByteArray("WB->2\r\nbye\r\n")
            << QStringList{"RX> WB->2", "RX> bye", "WARM BOOT OK: WB->2"};
        QTest::addRow("%s: noise only", mode)
            << udp << QByteArray("hello\r\n\r\n") << QStringList{"RX> hello", "RX> ", warn};
        QTest::addRow("%s: silence", mode) << udp << QByteArray() << QStringList{warn};
        QTest::addRow("%s: text after the last LF is dropped", mode)
            << udp << QByteArray("WB->1\r\nQUELVANE APP2")
            << QStringList{"RX> WB->1", "WARM BOOT OK: WB->1"};
        QTest::addRow("%s: unterminated answer", mode)
            << udp << QByteArray("QUELVANE APP2") << QStringList{warn};
        QTest::addRow("%s: LF without CR", mode)
            << udp << QByteArray("\nWB->x\n")
            << QStringList{"RX> ", "RX> WB->x", "WARM BOOT OK: WB->x"};
        QTest::addRow("%s: Latin-1 text", mode)
            << udp << QByteArray("WB->\xe9t\xe9\r\n")
            << QStringList{QStringLiteral("RX> WB->\u00e9t\u00e9"),
                           QStringLiteral("WARM BOOT OK: WB->\u00e9t\u00e9")};
        QTest::addRow("%s: case matters", mode)
            << udp << QByteArray("quelvane app1\r\nwb->1\r\n")
            << QStringList{"RX> quelvane app1", "RX> wb->1", warn};
    }
}

void TestOtaFlow::warmBootAnswer()
{
    QFETCH(bool, udp);
    QFETCH(QByteArray, banner);
    QFETCH(QStringList, expectedLog);

    Board board;
    board.banner = banner;
    ScriptedLink link(line_mode(udp));
    board.install(link, 2);
    qvota::OtaConfig config = default_config();
    config.warmBoot = true;
    config.bannerWindowMs = 5000;
    const Run run = run_flow(link, image(300), config);

    QCOMPARE(run.result, QString()); // a missing answer is no failure
    const int from = int(run.log.indexOf(QStringLiteral("TX> b (warm boot)")));
    QVERIFY(from > 0);
    QCOMPARE(run.log.mid(from + 1), expectedLog + QStringList{"OTA FLOW COMPLETE"});
    // Listening lasts the whole window: it stops only at a read that timed out.
    QVERIFY(!link.reads().isEmpty());
    QVERIFY(!link.reads().last().delivered);
}

void TestOtaFlow::timeoutsPassed()
{
    Board board;
    board.jedec = "noise\r\nJEDEC=C86018\r\n";
    board.banner = "WB->1\r\n";
    ScriptedLink link;
    link.onFrame(0, "", 1); // one lost ack, so a resend's wait is seen as well
    board.install(link, 2);
    qvota::OtaConfig config = default_config();
    config.eraseTimeoutMs = 4321;
    config.bannerWindowMs = 6789;
    config.warmBoot = true;
    config.skipReopen = true;
    QCOMPARE(run_flow(link, image(300), config).result, QString());
    QCOMPARE(write_tokens(link), QStringLiteral("j U f0 f0 f1 F b"));

    const auto within = [](const QList<ScriptedLink::ReadRequest> &reads, ReadKind kind, int low,
                           int high) {
        if (reads.isEmpty())
            return false;
        for (const auto &read : reads) {
            if (read.kind != kind || read.timeoutMs < low || read.timeoutMs > high)
                return false;
        }
        return true;
    };
    // Identification passes the time left of its 3000 ms window to each read.
    QVERIFY(within(reads_after_write(link, 0), ReadKind::Line, 2000, 3000));
    QCOMPARE(reads_after_write(link, 0).size(), 2);
    const auto erase = reads_after_write(link, 1);
    QCOMPARE(erase.size(), 1);
    QCOMPARE(erase[0].kind, ReadKind::Line);
    QCOMPARE(erase[0].timeoutMs, 4321);
    QVERIFY(within(reads_after_write(link, 2), ReadKind::Byte, 14000, 15000));
    QVERIFY(within(reads_after_write(link, 3), ReadKind::Byte, 14000, 15000));
    const auto lastFrame = reads_after_write(link, 4);
    QCOMPARE(lastFrame.size(), 2);
    QCOMPARE(lastFrame[0].kind, ReadKind::Byte);
    QCOMPARE(lastFrame[1].kind, ReadKind::Line);
    QCOMPARE(lastFrame[1].timeoutMs, 15000);
    const auto readback = reads_after_write(link, 5);
    QCOMPARE(readback.size(), 1);
    QCOMPARE(readback[0].kind, ReadKind::Line);
    QCOMPARE(readback[0].timeoutMs, 120000);
    QVERIFY(within(reads_after_write(link, 6), ReadKind::Byte, 5789, 6789));
}

void TestOtaFlow::timingLines()
{
    // Real time passes only where the test makes it: during the erase wait and the first ack.
    ScriptedLink link;
    Board().install(link, 2);
    bool ackDelayed = false;
    link.setReadObserver([&ackDelayed](ReadKind kind, int timeoutMs) {
        if (kind == ReadKind::Line && timeoutMs == 4321)
            QThread::msleep(250);
        if (kind == ReadKind::Byte && !ackDelayed) {
            ackDelayed = true;
            QThread::msleep(300);
        }
    });
    qvota::OtaConfig config = default_config();
    config.eraseTimeoutMs = 4321;
    const Run run = run_flow(link, image(300), config);
    QCOMPARE(run.result, QString());

    static const QRegularExpression eraseLine(
        QStringLiteral("^RX> READY \\(erase (\\d+\\.\\d)s\\)$"));
    static const QRegularExpression doneLine(
        QStringLiteral("^transfer done in (\\d+\\.\\d)s \\((\\d+) B/s\\)$"));
    const auto erase = eraseLine.match(run.log.at(3));
    QVERIFY2(erase.hasMatch(), qPrintable(run.log.at(3)));
    QVERIFY(erase.captured(1).toDouble() >= 0.2);

    const auto done = doneLine.match(run.log.at(5));
    QVERIFY2(done.hasMatch(), qPrintable(run.log.at(5)));
    const double seconds = done.captured(1).toDouble();
    const qint64 rate = done.captured(2).toLongLong();
    QVERIFY(seconds >= 0.3);
    // The rate comes from the unrounded time, which lies within 0.05 s of the shown one.
    QVERIFY(rate >= qint64(300 / (seconds + 0.05)) - 1);
    QVERIFY(rate <= qint64(300 / (seconds - 0.05)));

    // An instant transfer still reports a finite, positive rate.
    ScriptedLink instant;
    Board().install(instant, 2);
    const Run quick = run_flow(instant, image(300), default_config());
    const auto quickDone = doneLine.match(quick.log.at(5));
    QVERIFY2(quickDone.hasMatch(), qPrintable(quick.log.at(5)));
    QVERIFY(quickDone.captured(2).toLongLong() > 0);
    QVERIFY(quickDone.captured(2).toLongLong() <= 300 * 1000);
}

QTEST_APPLESS_MAIN(TestOtaFlow)
#include "tst_otaflow.moc"
