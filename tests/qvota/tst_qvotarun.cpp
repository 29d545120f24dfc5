// qvota end to end against the board simulator: many boards at once with faults, an
// interrupted run, a station that sees boards come and go, and the refusals before a run.
#include "boardsim.h"
#include "processrun.h"
#include "testimages.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

using namespace qvota::test;
using namespace Qt::StringLiterals;

namespace {

const QString QVOTA = QStringLiteral(QVOTA_EXE);

// Every line of out as a JSON object; a line that is no object fails the test through error.
QList<QJsonObject> json_lines(const QByteArray &out, QString *error)
{
    static const QRegularExpression isoTime(
        u"^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"_s);
    QList<QJsonObject> objects;
    for (const QByteArray &line : out.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError parseError;
        const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
        const QJsonObject object = document.object();
        const QString event = object.value(u"event"_s).toString();
        if (!document.isObject())
            *error = u"not a JSON object: "_s + QString::fromUtf8(line);
        else if (object.value(u"v"_s).toInt() != 1 || event.isEmpty()
                 || !isoTime.match(object.value(u"time"_s).toString()).hasMatch())
            *error = u"no v 1, event or ISO time with offset: "_s + QString::fromUtf8(line);
        else if (object.contains(u"board"_s) == (event == u"summary"))
            *error = u"board where it does not belong, or missing: "_s + QString::fromUtf8(line);
        objects.append(object);
    }
    return objects;
}

QList<QJsonObject> events(const QList<QJsonObject> &objects, const QString &event)
{
    QList<QJsonObject> found;
    for (const QJsonObject &object : objects) {
        if (object.value(u"event"_s).toString() == event)
            found.append(object);
    }
    return found;
}

QJsonObject result_of(const QList<QJsonObject> &objects, const QString &board, int *count)
{
    QJsonObject found;
    *count = 0;
    for (const QJsonObject &object : events(objects, u"result"_s)) {
        if (object.value(u"board"_s).toString() == board) {
            found = object;
            ++*count;
        }
    }
    return found;
}

QByteArray read_file(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Reads a running process's stdout line by line, so a test can act in the middle of a run.
class LineReader
{
public:
    explicit LineReader(QProcess &process)
        : m_process(process)
    {}

    // Waits until a line containing text arrives; false at the deadline or the process's end.
    bool waitFor(const QString &text, int timeoutMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            while (m_process.canReadLine()) {
                const QByteArray line = m_process.readLine();
                m_all += line;
                if (QString::fromUtf8(line).contains(text))
                    return true;
            }
            if (m_process.state() == QProcess::NotRunning)
                return false;
            m_process.waitForReadyRead(100);
        }
        return false;
    }

    QByteArray all()
    {
        m_all += m_process.readAllStandardOutput();
        return m_all;
    }

private:
    QProcess &m_process;
    QByteArray m_all;
};

} // namespace

class TestQvotaRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QByteArray image = pack_with_sim(pattern_bytes(64 * 1024, 7));
        QVERIFY(!image.isEmpty());
        m_image = write_file(m_dir, u"image.qvbit"_s, image);
        // Large enough that a paced transfer is still running when the test interrupts it.
        m_bigImage = write_file(m_dir, u"big.qvbit"_s, pack_with_sim(pattern_bytes(128 * 1024, 8)));
        QVERIFY(!m_image.isEmpty() && !m_bigImage.isEmpty());
    }

    // Three boards at once: one good, one whose flash reads back wrong, one whose link dies in
    // the transfer. The failures are reported at their stages and stop nobody else.
    void threeBoardsWithFaults()
    {
        BoardSim good;
        BoardSim badReadback;
        BoardSim dying;
        QVERIFY(good.startUdp());
        QVERIFY(badReadback.startUdp({u"--bad-img-crc"_s}));
        QVERIFY(dying.startPty({u"--drop-link-at"_s, u"20"_s}));
        const QString goodLabel = u"udp:127.0.0.1:"_s + QString::number(good.udpPort());
        const QString badLabel = u"udp:127.0.0.1:"_s + QString::number(badReadback.udpPort())
            + u",bind=127.0.0.1"_s;
        const QString dyingLabel = u"uart:"_s + dying.ptyPath();
        const QString history = m_dir.filePath(u"flash-history.jsonl"_s);

        const ProcessResult run = run_process(
            QVOTA, {u"flash"_s, m_image, u"--board"_s, goodLabel, u"--board"_s, badLabel,
                    u"--board"_s, dyingLabel, u"--json"_s, u"--history"_s, history},
            120000);
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 1);

        QString error;
        const QList<QJsonObject> lines = json_lines(run.out, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(!lines.isEmpty());
        QCOMPARE(lines.last().value(u"event"_s).toString(), u"summary"_s);
        QCOMPARE(events(lines, u"summary"_s).size(), 1);
        QCOMPARE(lines.last().value(u"verified"_s).toInt(), 1);
        QCOMPARE(lines.last().value(u"failed"_s).toInt(), 2);
        QCOMPARE(lines.last().value(u"cancelled"_s).toInt(), 0);
        QCOMPARE(events(lines, u"result"_s).size(), 3);
        QCOMPARE(events(lines, u"start"_s).size(), 3);

        int count = 0;
        const QJsonObject verified = result_of(lines, goodLabel, &count);
        QCOMPARE(count, 1);
        QCOMPARE(verified.value(u"outcome"_s).toString(), u"verified"_s);
        QCOMPARE(verified.value(u"stage"_s).toString(), u"done"_s);
        QCOMPARE(verified.value(u"bytes"_s).toInt(), int(QFileInfo(m_image).size()));
        QCOMPARE(verified.value(u"imgCrc32"_s), verified.value(u"expectedCrc32"_s));
        QCOMPARE(verified.value(u"rxCrc32"_s), verified.value(u"expectedCrc32"_s));

        const QJsonObject readback = result_of(lines, badLabel, &count);
        QCOMPARE(count, 1);
        QCOMPARE(readback.value(u"outcome"_s).toString(), u"failed"_s);
        QCOMPARE(readback.value(u"stage"_s).toString(), u"img-crc"_s);
        QVERIFY(readback.value(u"imgCrc32"_s).isString());
        QVERIFY(readback.value(u"imgCrc32"_s) != readback.value(u"expectedCrc32"_s));

        const QJsonObject died = result_of(lines, dyingLabel, &count);
        QCOMPARE(count, 1);
        QCOMPARE(died.value(u"outcome"_s).toString(), u"failed"_s);
        QCOMPARE(died.value(u"stage"_s).toString(), u"transfer"_s);
        QVERIFY(!died.value(u"message"_s).toString().isEmpty());
        QVERIFY(died.value(u"bytes"_s).toInt() < 20 * 256 + 1);

        // Progress comes, but not once per frame (257 of them here).
        const qsizetype progress = events(lines, u"progress"_s).size();
        QVERIFY2(progress >= 3 && progress < 100, qPrintable(QString::number(progress)));

        QCOMPARE(good.stop().value(u"updates"_s).toInt(), 1);
        QCOMPARE(badReadback.stop().value(u"updates"_s).toInt(), 1);

        // One whole line per finished board, saying what its result said.
        const QList<QJsonObject> records = json_lines_history(read_file(history), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(records.size(), 3);
        for (const QJsonObject &record : records) {
            const QJsonObject result =
                result_of(lines, record.value(u"board"_s).toString(), &count);
            QCOMPARE(count, 1);
            QCOMPARE(record.value(u"outcome"_s), result.value(u"outcome"_s));
            QCOMPARE(record.value(u"stage"_s), result.value(u"stage"_s));
            QCOMPARE(record.value(u"imageSha256"_s).toString().size(), 64);
            QCOMPARE(record.value(u"tool"_s).toString(), u"qvota " QVOTA_VERSION ""_s);
        }
    }

    // Ctrl-C in the middle: every board ends cancelled, the results and the summary still
    // come, and the process exits 130 without sitting out a time-out.
    void interrupted()
    {
        BoardSim first;
        BoardSim second;
        QVERIFY(first.startPty({u"--baud"_s, u"115200"_s}));
        QVERIFY(second.startPty({u"--baud"_s, u"115200"_s}));
        QProcess qvota;
        qvota.start(QVOTA, {u"flash"_s, m_bigImage, u"--board"_s, u"uart:"_s + first.ptyPath(),
                            u"--board"_s, u"uart:"_s + second.ptyPath(), u"--json"_s});
        LineReader reader(qvota);
        QVERIFY(reader.waitFor(u"\"progress\""_s, 30000));
        QVERIFY(reader.waitFor(u"\"progress\""_s, 30000));
        ::kill(pid_t(qvota.processId()), SIGINT);
        QVERIFY2(qvota.waitForFinished(int(scaled_ms(5000))), "qvota did not end after SIGINT");
        QCOMPARE(qvota.exitStatus(), QProcess::NormalExit);
        QCOMPARE(qvota.exitCode(), 130);

        QString error;
        const QList<QJsonObject> lines = json_lines(reader.all(), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const QList<QJsonObject> results = events(lines, u"result"_s);
        QCOMPARE(results.size(), 2);
        for (const QJsonObject &result : results) {
            QCOMPARE(result.value(u"outcome"_s).toString(), u"cancelled"_s);
            QCOMPARE(result.value(u"stage"_s).toString(), u"transfer"_s);
        }
        QCOMPARE(lines.last().value(u"event"_s).toString(), u"summary"_s);
        QCOMPARE(lines.last().value(u"cancelled"_s).toInt(), 2);
        QCOMPARE(first.stop().value(u"updates"_s).toInt(), 0);
    }

    // A station at one slot: a board arrives, is updated, stays a while (and is not updated
    // again), goes; another arrives at the same place and is updated; --count 2 ends it.
    void stationSeesBoardsComeAndGo()
    {
        const QString place = m_dir.filePath(u"ttyQV0"_s);
        const QString history = m_dir.filePath(u"station-history.jsonl"_s);
        BoardSim firstBoard;
        QVERIFY(firstBoard.startPty({u"--link"_s, place}));
        QProcess station;
        station.start(QVOTA, {u"station"_s, m_image, u"--board"_s, u"uart:"_s + place,
                              u"--count"_s, u"2"_s, u"--json"_s, u"--history"_s, history});
        LineReader reader(station);
        QVERIFY(reader.waitFor(u"\"result\""_s, 60000));
        // Longer than a board takes to count as gone: a board that stays is not updated twice.
        QTest::qWait(4500);
        QCOMPARE(firstBoard.stop().value(u"updates"_s).toInt(), 1);

        BoardSim secondBoard;
        QVERIFY(secondBoard.startPty({u"--link"_s, place}));
        QVERIFY2(station.waitForFinished(60000), "the station did not end after two updates");
        QCOMPARE(station.exitCode(), 0);
        QCOMPARE(secondBoard.stop().value(u"updates"_s).toInt(), 1);

        QString error;
        const QList<QJsonObject> lines = json_lines(reader.all(), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const QList<QJsonObject> results = events(lines, u"result"_s);
        QCOMPARE(results.size(), 2);
        for (const QJsonObject &result : results)
            QCOMPARE(result.value(u"outcome"_s).toString(), u"verified"_s);
        QCOMPARE(events(lines, u"gone"_s).size(), 1);
        QCOMPARE(lines.last().value(u"verified"_s).toInt(), 2);
        QCOMPARE(json_lines_history(read_file(history), &error).size(), 2);
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }

    // Human output: every line stamped and labelled, then the table; nothing redrawn when
    // stderr is no terminal; --quiet leaves only the table and its last line.
    void humanOutput()
    {
        BoardSim board;
        QVERIFY(board.startUdp());
        const QString label = u"udp:127.0.0.1:"_s + QString::number(board.udpPort());
        const QString last = u"1 verified, 0 failed, 0 cancelled (exit code 0)"_s;
        const QRegularExpression stamped(u"^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} \\["_s
                                                + QRegularExpression::escape(label) + u"\\] \\S"_s);

        const ProcessResult full = run_process(QVOTA, {u"flash"_s, m_image, u"--board"_s, label});
        QCOMPARE(full.exitCode, 0);
        QVERIFY2(!full.err.contains('\x1b'), full.err.constData());
        const QStringList lines = full.outLines();
        const qsizetype table = lines.indexOf(QRegularExpression(u"board +result +stage.*"_s));
        QVERIFY2(table > 3, qPrintable(lines.join(u'\n')));
        for (qsizetype i = 0; i < table; ++i)
            QVERIFY2(stamped.match(lines.at(i)).hasMatch(), qPrintable(lines.at(i)));
        QCOMPARE(lines.size(), table + 3);
        QVERIFY2(lines.at(table + 1).startsWith(label + u"  verified  done"_s),
                 qPrintable(lines.at(table + 1)));
        QCOMPARE(lines.last(), last);

        const ProcessResult quiet =
            run_process(QVOTA, {u"flash"_s, m_image, u"--board"_s, label, u"--quiet"_s});
        QCOMPARE(quiet.exitCode, 0);
        QCOMPARE(quiet.outLines().size(), 3);
        QCOMPARE(quiet.outLines().last(), last);
        QCOMPARE(board.stop().value(u"updates"_s).toInt(), 2);
    }

    // Refusals come before any board is touched, with their own exit codes and nothing on
    // stdout, where a script reads JSON.
    void refusedBeforeAnyBoard_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("bad board spec") << QStringList{u"--board"_s, u"udp:::1"_s} << 2;
        QTest::newRow("no board") << QStringList() << 2;
        QTest::newRow("bad target") << QStringList{u"--board"_s, u"udp:127.0.0.1:9"_s, u"--target"_s, u"3"_s} << 2;
        QTest::newRow("bad retries") << QStringList{u"--board"_s, u"udp:127.0.0.1:9"_s, u"--retries"_s, u"x"_s} << 2;
        QTest::newRow("same board twice")
            << QStringList{u"--board"_s, u"udp:127.0.0.1:9"_s, u"--board"_s, u"udp:127.0.0.1:9,bind=127.0.0.1"_s} << 2;
        QTest::newRow("escape in a label") << QStringList{u"--board"_s, u"udp:127.0.0.1:9\x1b[2J"_s} << 2;
        QTest::newRow("one local port twice")
            << QStringList{u"--board"_s, u"udp:127.0.0.1:9,bind=127.0.0.1:40000"_s, u"--board"_s,
                           u"udp:127.0.0.2:9,bind=0.0.0.0:40000"_s} << 2;
        QTest::newRow("json and quiet") << QStringList{u"--board"_s, u"udp:127.0.0.1:9"_s, u"--quiet"_s} << 2;
        QTest::newRow("missing boards file") << QStringList{u"--boards"_s, u"/nonexistent/boards"_s} << 2;
        QTest::newRow("unknown option") << QStringList{u"--board"_s, u"udp:127.0.0.1:9"_s, u"--fast"_s} << 2;
        QTest::newRow("plain image") << QStringList{u"--board"_s, u"udp:127.0.0.1:9"_s, u"PLAIN"_s} << 3;
    }

    void refusedBeforeAnyBoard()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        const QString plain = write_file(m_dir, u"plain.bin"_s, pattern_bytes(4096));
        QString image = m_image;
        if (arguments.removeAll(u"PLAIN"_s) > 0)
            image = plain;
        const ProcessResult run =
            run_process(QVOTA, QStringList{u"flash"_s, image, u"--json"_s} + arguments, 20000);
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.out.isEmpty(), run.out.constData());
        QVERIFY(!run.err.isEmpty());
        // A refusal quotes what was given, but never passes a control sequence to the terminal.
        QVERIFY2(!run.err.contains('\x1b'), run.err.constData());
    }

private:
    // History lines carry "date" rather than "time" and no event.
    static QList<QJsonObject> json_lines_history(const QByteArray &bytes, QString *error)
    {
        QList<QJsonObject> records;
        if (!bytes.endsWith('\n'))
            *error = u"the history does not end with a whole line"_s;
        for (const QByteArray &line : bytes.split('\n')) {
            if (line.isEmpty())
                continue;
            const QJsonDocument document = QJsonDocument::fromJson(line);
            if (!document.isObject() || document.object().value(u"outcome"_s).toString().isEmpty())
                *error = u"not a history record: "_s + QString::fromUtf8(line);
            records.append(document.object());
        }
        return records;
    }

    QTemporaryDir m_dir;
    QString m_image;
    QString m_bigImage;
};

QTEST_GUILESS_MAIN(TestQvotaRun)
#include "tst_qvotarun.moc"
