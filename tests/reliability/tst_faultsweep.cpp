// Every fault the board simulator can inject, through the real command line, over UDP and over
// a paced pty: the faults that name a frame at the first, a middle and the last frame, the
// others once. A row's outcome is what the update flow makes of the fault: a verified success,
// or exactly one error line and exit code 1, never earlier than the waits the fault forces on
// the flow and never much later. Rows that must sit out SLOW_MS or more form the slow sweep,
// which runs only when QVOTA_RELIABILITY is set ("make reliability"); the others run with every
// "make test". A run mostly waits on time-outs, so several go at once.
#include "boardsim.h"
#include "container.h"
#include "otaflow.h"
#include "processrun.h"
#include "protocolwaits.h"
#include "testimages.h"
#include "transcript.h"
#include "verifiedlines.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>
#include <vector>

using namespace qvota::test;
using namespace Qt::StringLiterals;

namespace {

// Beyond its forced waits a run starts two processes and moves two kilobytes; the rest of the
// margin is for a machine that is busy with other tests.
constexpr qint64 SLACK_MS = 20000;
constexpr qint64 SLOW_MS = 10000;
// Fast rows share the machine with the other tests; slow rows mostly sleep.
constexpr int FAST_PARALLEL = 6;
constexpr int SLOW_PARALLEL = 64;

constexpr int PLAIN_SIZE = 2000; // a 2036-byte container: 8 frames, the last one short
constexpr int FRAMES = 8;
constexpr int MIDDLE = FRAMES / 2;
constexpr int LAST = FRAMES - 1;
constexpr int DEFAULT_RETRIES = 3;
// Fewer tries keep the rows that fail on a frame short; the count must still reach the log.
constexpr int SHORT_RETRIES = 2;
// "QUELVANE GOLDEN boot" CR LF: none of it is a K.
constexpr int RESET_BANNER_BYTES = 22;
const QString PTY_BAUD = QStringLiteral("115200");
// Stands for the run's pseudo-terminal in an expected error.
const QString PTY_PATH = QStringLiteral("<pty>");

const QString JEDEC_FAILED =
    QStringLiteral("JEDEC check failed (board not in OTA image or flash unreadable)");

struct Row
{
    QString name;
    QStringList simArgs;
    QStringList hostArgs;
    QString error;                    // the flow's result; empty: a verified success
    QStringList events;               // every time-out and skipped-byte line, exactly and in order
    QStringList lines;                // patterns that must appear as well, in this order
    qint64 waitMs = 0;                // what the fault forces the flow to sit out
    qint64 withinMs = 0;              // when set: the run ends within this much of its start
    int identify = 1;                 // "j" commands the board saw
    std::optional<QList<int>> frames; // frames the board saw, retries included
    bool pty = false;
};

QString ack_timeout(int frame, int attempt)
{
    return QStringLiteral("frame %1 try %2: ack timeout")
        .arg(QString::number(frame), QString::number(attempt));
}

QStringList ack_timeouts(int frame, int tries)
{
    QStringList lines;
    for (int attempt = 1; attempt <= tries; ++attempt)
        lines << ack_timeout(frame, attempt);
    return lines;
}

QStringList jedec_timeouts(int tries)
{
    QStringList lines;
    for (int attempt = 1; attempt <= tries; ++attempt)
        lines << QStringLiteral("jedec timeout try %1/%2")
                     .arg(QString::number(attempt), QString::number(IDENTIFY_TRIES));
    return lines;
}

// The accumulator is never emptied, so the count stands and the note repeats every frame.
QStringList skipped_notes(int bytes, int fromFrame, int toFrame)
{
    QStringList lines;
    for (int frame = fromFrame; frame <= toFrame; ++frame)
        lines << QStringLiteral("note: skipped %1 non-ack byte(s) at frame %2")
                     .arg(QString::number(bytes), QString::number(frame));
    return lines;
}

QString frame_failed(int frame, int tries)
{
    return QStringLiteral("frame %1 failed after %2 tries")
        .arg(QString::number(frame), QString::number(tries));
}

QString crc_hex(quint32 crc)
{
    return QStringLiteral("%1").arg(crc, 8, 16, QLatin1Char('0'));
}

// As the mismatch messages print a CRC: right-aligned in 8 characters, padded with blanks.
QString crc_field(quint32 crc)
{
    return QStringLiteral("%1").arg(crc, 8, 16, QLatin1Char(' '));
}

// Frames 0..LAST in order, with frame repeated to occur times times and nothing after it
// when stop is set.
QList<int> frames_with(int frame, int times, bool stop)
{
    QList<int> list = index_range(frame);
    for (int i = 0; i < times; ++i)
        list << frame;
    if (!stop) {
        for (int i = frame + 1; i < FRAMES; ++i)
            list << i;
    }
    return list;
}

QList<Row> sweep_rows(quint32 crc)
{
    QList<Row> rows;
    const QList<int> allFrames = index_range(FRAMES);
    const QList<int> noFrames;
    const QString rxDoneLine = lit(QStringLiteral("RX> RXDONE CRC32=") + crc_hex(crc));
    const QStringList warmBootLines{
        lit(QStringLiteral("reopen transport before warm boot (XREQ-19 mitigation)")),
        lit(QStringLiteral("TX> 2 (select warm boot target)")),
        lit(QStringLiteral("TX> b (warm boot)"))};

    for (const bool pty : {false, true}) {
        const auto add = [&](const QString &name, const QStringList &simArgs) -> Row & {
            Row row;
            row.name = (pty ? QStringLiteral("pty ") : QStringLiteral("udp ")) + name;
            row.simArgs = simArgs;
            row.pty = pty;
            row.frames = allFrames;
            rows.append(row);
            return rows.last();
        };

        add(QStringLiteral("no fault"), {});

        // Only the fault's own tries cost their windows; the last try that can still succeed is
        // the fifth.
        for (const int silent : {1, IDENTIFY_TRIES - 1, IDENTIFY_TRIES}) {
            Row &row = add(QStringLiteral("silent-identify %1").arg(silent),
                           {u"--silent-identify"_s, QString::number(silent)});
            row.events = jedec_timeouts(silent);
            row.waitMs = silent * IDENTIFY_WINDOW_MS;
            row.identify = qMin(silent + 1, IDENTIFY_TRIES);
            if (silent == IDENTIFY_TRIES) {
                row.error = JEDEC_FAILED;
                row.frames = noFrames;
            }
        }
        {
            // Over UDP a "line" is whatever has arrived, so noise may come joined to the id.
            Row &row = add(QStringLiteral("noise-lines 3"), {u"--noise-lines"_s, u"3"_s});
            row.lines = pty ? QStringList{u"RX> (?!JEDEC=).+"_s, u"RX> (?!JEDEC=).+"_s,
                                          u"RX> (?!JEDEC=).+"_s, lit(u"RX> JEDEC=C86018"_s)}
                            : QStringList{u"RX> .*JEDEC=C86018"_s};
        }
        {
            // Another flash answers at once, so no try waits out its window.
            Row &row = add(QStringLiteral("jedec EF4018"), {u"--jedec"_s, u"EF4018"_s});
            row.error = JEDEC_FAILED;
            row.events = jedec_timeouts(IDENTIFY_TRIES);
            for (int attempt = 0; attempt < IDENTIFY_TRIES; ++attempt)
                row.lines << lit(QStringLiteral("RX> JEDEC=EF4018"));
            row.identify = IDENTIFY_TRIES;
            row.frames = noFrames;
        }
        {
            Row &row =
                add(QStringLiteral("erase-reply 'READY '"), {u"--erase-reply"_s, u"READY "_s});
            row.error = QStringLiteral("expected READY after erase, got 'READY '");
            row.frames = noFrames;
        }
        {
            Row &row = add(QStringLiteral("no-erase-reply"), {u"--no-erase-reply"_s});
            row.error = QStringLiteral("expected READY after erase, got ''");
            row.waitMs = ERASE_WAIT_MS;
            row.frames = noFrames;
        }

        for (const int frame : {0, MIDDLE, LAST}) {
            const QString index = QString::number(frame);
            {
                // The board's RXDONE line stands in for the last frame's lost K.
                Row &row = add(QStringLiteral("drop-ack ") + index, {u"--drop-ack"_s, index});
                if (frame == LAST) {
                    row.lines = {rxDoneLine, lit(RX_MATCH)};
                } else {
                    row.events = {ack_timeout(frame, 1)};
                    row.waitMs = ACK_WAIT_MS;
                    row.frames = frames_with(frame, 2, false);
                }
            }
            {
                Row &row = add(QStringLiteral("never-ack ") + index, {u"--never-ack"_s, index});
                row.error = frame_failed(frame, DEFAULT_RETRIES);
                row.events = ack_timeouts(frame, DEFAULT_RETRIES);
                row.waitMs = DEFAULT_RETRIES * ACK_WAIT_MS;
                row.frames = frames_with(frame, DEFAULT_RETRIES, true);
            }
            {
                Row &row = add(QStringLiteral("stray-after ") + index, {u"--stray-after"_s, index});
                if (frame < LAST) {
                    row.events = skipped_notes(2, frame + 1, LAST);
                } else if (pty) {
                    // The stray bytes end in CR, not LF, so they open the RXDONE line.
                    row.lines = {lit(u"RX> ?RXDONE CRC32="_s + crc_hex(crc)), lit(RX_MATCH)};
                } else {
                    // Over UDP the stray bytes stay behind after the K that shared their
                    // datagram and make up the next line on their own, unless the RXDONE
                    // datagram was already in; the board's latency makes sure it was not.
                    row.simArgs << QStringLiteral("--latency-ms") << QStringLiteral("20");
                    row.error = QStringLiteral("no RXDONE, got '?'");
                }
            }
            {
                Row &row =
                    add(QStringLiteral("drop-link-at ") + index, {u"--drop-link-at"_s, index});
                row.hostArgs = {u"--retries"_s, QString::number(SHORT_RETRIES)};
                row.frames = frames_with(frame, 1, true);
                if (pty) {
                    // A port that hangs up is named at once, not waited out.
                    row.error = u"serial port "_s + PTY_PATH
                                + u" lost: the device hung up (unplugged, or its other end "
                                  u"closed)"_s;
                    row.withinMs = 2000;
                } else {
                    row.error = frame_failed(frame, SHORT_RETRIES);
                    row.events = ack_timeouts(frame, SHORT_RETRIES);
                    row.waitMs = SHORT_RETRIES * ACK_WAIT_MS;
                }
            }
            {
                // The boot banner is no acknowledgement, and the retries reach a board that has
                // forgotten the transfer.
                Row &row = add(QStringLiteral("reset-at ") + index, {u"--reset-at"_s, index});
                row.hostArgs = {u"--retries"_s, QString::number(SHORT_RETRIES)};
                row.error = frame_failed(frame, SHORT_RETRIES);
                row.events = ack_timeouts(frame, SHORT_RETRIES)
                             + skipped_notes(RESET_BANNER_BYTES, frame, frame);
                row.waitMs = SHORT_RETRIES * ACK_WAIT_MS;
                // The retries reach the board outside a transfer, where it skips a frame whole
                // without looking at it; what it records of them is its own affair.
                row.frames.reset();
            }
        }

        {
            Row &row = add(QStringLiteral("rxdone-instead-of-last-ack"),
                           {u"--rxdone-instead-of-last-ack"_s});
            row.lines = {rxDoneLine, lit(RX_MATCH)};
        }
        const QString rxMismatch =
            QStringLiteral("RX CRC32 mismatch rx=%1 file=%2").arg(crc_field(~crc), crc_field(crc));
        for (const QStringList &args :
             {QStringList{u"--bad-rx-crc"_s},
              QStringList{u"--bad-rx-crc"_s, u"--rxdone-instead-of-last-ack"_s}}) {
            Row &row = add(args.join(QLatin1Char(' ')).remove(QStringLiteral("--")), args);
            row.error = rxMismatch;
            row.lines = {lit(u"RX> RXDONE CRC32="_s + crc_hex(~crc))};
        }
        {
            Row &row = add(QStringLiteral("bad-img-crc"), {u"--bad-img-crc"_s});
            row.error = QStringLiteral("IMG CRC32 mismatch img=%1 file=%2")
                            .arg(crc_field(~crc), crc_field(crc));
            row.lines = {lit(RX_MATCH), lit(u"RX> IMGCRC="_s + crc_hex(~crc))};
        }
        {
            Row &row = add(QStringLiteral("no-rxdone"), {u"--no-rxdone"_s});
            row.error = QStringLiteral("no RXDONE, got ''");
            row.waitMs = RXDONE_WAIT_MS;
        }

        // The banner window is always listened out, answer or not.
        const qint64 warmBootMs = TARGET_PAUSE_MS + BANNER_WINDOW_MS + (pty ? SERIAL_REOPEN_MS : 0);
        {
            Row &row = add(QStringLiteral("no-banner"), {u"--no-banner"_s});
            row.hostArgs = {u"--target"_s, u"2"_s};
            row.lines =
                warmBootLines + QStringList{lit(u"WARM BOOT OK: WARN: no warm-boot ack seen"_s)};
            row.waitMs = warmBootMs;
        }
        {
            // The later answer is the one reported.
            Row &row = add(QStringLiteral("double-banner"), {u"--double-banner"_s});
            row.hostArgs = {u"--target"_s, u"2"_s};
            row.lines = warmBootLines
                        + QStringList{lit(u"RX> WB->reboot"_s),
                                      lit(u"RX> QUELVANE APP2 running (warm boot)"_s),
                                      lit(u"WARM BOOT OK: QUELVANE APP2 running (warm boot)"_s)};
            row.waitMs = warmBootMs;
        }
        {
            // A board that takes its time within every time-out is no fault for the host.
            Row &row = add(QStringLiteral("slow erase and readback"),
                           {u"--erase-ms"_s, u"2500"_s, u"--readback-ms"_s, u"1500"_s});
            row.lines = {uR"(RX> READY \(erase ([2-9]|\d{2,})\.\ds\))"_s, lit(RX_MATCH),
                         lit(u"RX> IMGCRC="_s + crc_hex(crc))};
            row.waitMs = 2500 + 1500;
        }
    }
    return rows;
}

// One row in flight: its own simulator and one command-line run against it.
struct Run
{
    Row row;
    std::unique_ptr<BoardSim> sim;
    QProcess host;
    QElapsedTimer timer;   // from the host's start
    qint64 elapsedMs = -1; // set when the host has ended
    QString startProblem;

    ~Run()
    {
        if (host.state() != QProcess::NotRunning) {
            host.kill();
            host.waitForFinished(5000);
        }
    }

    bool started() const { return timer.isValid(); }
    bool ended() const { return elapsedMs >= 0 || !startProblem.isEmpty(); }
    qint64 boundMs() const { return row.waitMs + SLACK_MS; }
};

} // namespace

class TestFaultSweep : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    quint32 m_crc = 0;
    QString m_image;
    std::vector<std::unique_ptr<Run>> m_runs;
    int m_parallel = 1;

    void prepare(bool slow);
    void start(Run &run);
    bool await(Run &run);
    void check(int index);

private slots:
    void initTestCase();
    void fastSweep_data() { prepare(false); }
    void fastSweep()
    {
        QFETCH(int, index);
        check(index);
    }
    void slowSweep_data();
    void slowSweep()
    {
        QFETCH(int, index);
        check(index);
    }
};

void TestFaultSweep::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QByteArray plain = pattern_bytes(PLAIN_SIZE, 11);
    m_crc = qvota::crc32(plain);
    m_image = write_file(m_dir, QStringLiteral("image.qvbit"), pack_with_sim(plain));
    QVERIFY(!m_image.isEmpty());
    QCOMPARE(qvota::frame_count(QFileInfo(m_image).size()), FRAMES);
}

void TestFaultSweep::slowSweep_data()
{
    if (qEnvironmentVariableIsEmpty("QVOTA_RELIABILITY"))
        QSKIP("slow sweep not requested: set QVOTA_RELIABILITY=1 (make reliability)");
    prepare(true);
}

void TestFaultSweep::prepare(bool slow)
{
    m_runs.clear();
    m_parallel = slow ? SLOW_PARALLEL : FAST_PARALLEL;
    QTest::addColumn<int>("index");
    for (const Row &row : sweep_rows(m_crc)) {
        if ((row.waitMs >= SLOW_MS) != slow)
            continue;
        QTest::newRow(qPrintable(row.name)) << int(m_runs.size());
        auto run = std::make_unique<Run>();
        run->row = row;
        m_runs.push_back(std::move(run));
    }
}

void TestFaultSweep::start(Run &run)
{
    const Row &row = run.row;
    run.sim = std::make_unique<BoardSim>();
    const bool up = row.pty ? run.sim->startPty(row.simArgs + QStringList{u"--baud"_s, PTY_BAUD})
                            : run.sim->startUdp(row.simArgs);
    run.timer.start();
    if (!up) {
        run.startProblem = QStringLiteral("the simulator did not start:\n") + run.sim->log();
        return;
    }
    QStringList arguments{u"--cli"_s, u"--file"_s, m_image};
    if (row.pty) {
        arguments << u"--transport"_s << u"uart"_s << u"--port"_s << run.sim->ptyPath()
                  << u"--baud"_s << PTY_BAUD;
    } else {
        arguments << u"--transport"_s << u"udp"_s << u"--ip"_s << u"127.0.0.1"_s << u"--udp-port"_s
                  << QString::number(run.sim->udpPort()) << u"--host-ip"_s << u"127.0.0.1"_s
                  << u"--host-port"_s << u"0"_s;
    }
    Run *const target = &run;
    QObject::connect(&run.host, &QProcess::finished, &run.host,
                     [target] { target->elapsedMs = target->timer.elapsed(); });
    QObject::connect(&run.host, &QProcess::errorOccurred, &run.host,
                     [target](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart)
                             target->startProblem = target->host.errorString();
                     });
    run.timer.start();
    run.host.start(QStringLiteral(QVOTA_APP_EXE), arguments + row.hostArgs);
}

// Keeps up to m_parallel runs going, in table order, until run has ended; false when it is
// still going after its bound (then it is killed).
bool TestFaultSweep::await(Run &run)
{
    for (;;) {
        if (!run.started())
            start(run);
        int active = 0;
        for (const auto &other : m_runs)
            active += other->started() && !other->ended();
        for (const auto &other : m_runs) {
            if (active >= m_parallel)
                break;
            if (!other->started()) {
                start(*other);
                ++active;
            }
        }
        if (run.ended())
            return true;
        if (run.timer.elapsed() > run.boundMs()) {
            run.host.kill();
            run.host.waitForFinished(5000);
            return false;
        }
        QTest::qWait(20);
    }
}

void TestFaultSweep::check(int index)
{
    Run &run = *m_runs.at(std::size_t(index));
    const Row &row = run.row;
    const bool inTime = await(run);
    QVERIFY2(run.startProblem.isEmpty(), qPrintable(run.startProblem));
    const QJsonObject record = run.sim->stop();
    ProcessResult result;
    result.out = run.host.readAllStandardOutput();
    const QString context =
        QStringLiteral("\n--- host (%1 ms) ---\n%2%3\n--- simulator ---\n%4")
            .arg(QString::number(run.elapsedMs), QString::fromLocal8Bit(result.out),
                 QString::fromLocal8Bit(run.host.readAllStandardError()), run.sim->log());
    QVERIFY2(inTime,
             qPrintable(QStringLiteral("a hang: still running after %1 ms").arg(run.boundMs())
                        + context));
    QVERIFY2(run.host.exitStatus() == QProcess::NormalExit,
             qPrintable(QStringLiteral("crashed") + context));

    const Transcript t = read_transcript(result.outLines(), 3);
    QVERIFY2(t.problem.isEmpty(), qPrintable(t.problem + context));
    QVERIFY2(!t.lines.isEmpty(), qPrintable(context));

    // Whatever the row expects: success means both CRCs matched, and the board holds the image.
    if (run.host.exitCode() == 0) {
        QVERIFY2(row.error.isEmpty(), qPrintable(QStringLiteral("FALSE SUCCESS, expected '")
                                                 + row.error + QLatin1Char('\'') + context));
        QVERIFY2(
            t.lines.contains(RX_MATCH) && t.lines.contains(IMG_MATCH),
            qPrintable(QStringLiteral("FALSE SUCCESS: exit 0 without both CRC matches") + context));
        QCOMPARE(record.value(QStringLiteral("lastRxCrc")).toString(), crc_hex(m_crc));
    }
    QVERIFY2(run.host.exitCode() == (row.error.isEmpty() ? 0 : 1),
             qPrintable(QStringLiteral("exit code %1").arg(run.host.exitCode()) + context));
    QString error = row.error;
    error.replace(PTY_PATH, run.sim->ptyPath());
    QCOMPARE(t.lines.last(), error.isEmpty() ? COMPLETE : QStringLiteral("ERROR: ") + error);

    static const QRegularExpression event(
        QStringLiteral("^(frame \\d+ try \\d+: ack timeout|jedec timeout try \\d+/\\d+|note: "
                       "skipped \\d+ non-ack byte\\(s\\) at frame \\d+)$"));
    QVERIFY2(t.lines.filter(event) == row.events,
             qPrintable(QStringLiteral("time-outs and notes differ, expected:\n")
                        + row.events.join(QLatin1Char('\n')) + context));
    qsizetype at = 0;
    for (const QString &pattern : row.lines) {
        const QRegularExpression re(QRegularExpression::anchoredPattern(pattern));
        while (at < t.lines.size() && !re.match(t.lines.at(at)).hasMatch())
            ++at;
        QVERIFY2(at < t.lines.size(), qPrintable(QStringLiteral("no line '") + pattern
                                                 + QStringLiteral("' in order") + context));
        ++at;
    }

    QVERIFY2(run.elapsedMs >= row.waitMs,
             qPrintable(QStringLiteral("ended before the flow's waits of %1 ms").arg(row.waitMs)
                        + context));
    QVERIFY2(row.withinMs == 0 || run.elapsedMs < scaled_ms(row.withinMs),
             qPrintable(QStringLiteral("took longer than %1 ms").arg(row.withinMs) + context));

    QCOMPARE(record.value(QStringLiteral("identify")).toInt(), row.identify);
    if (row.frames)
        QCOMPARE(record_ints(record, QStringLiteral("frames")), *row.frames);
    // Nothing is sent after a failure: the readback only once the receive CRC has matched, and
    // the warm boot only after a verified write.
    const bool readBack =
        row.error.isEmpty() || row.error.startsWith(QLatin1String("IMG CRC32 mismatch"));
    QCOMPARE(record.value(QStringLiteral("readback")).toInt(), readBack ? 1 : 0);
    const bool warmBoot = row.error.isEmpty() && row.hostArgs.contains(QLatin1String("--target"));
    QCOMPARE(record.value(QStringLiteral("warmBoot")).toInt(), warmBoot ? 1 : 0);
    qInfo("%lld ms (forced waits %lld ms, bound %lld ms)", run.elapsedMs, row.waitMs,
          run.boundMs());
}

QTEST_GUILESS_MAIN(TestFaultSweep)
#include "tst_faultsweep.moc"
