// The station's HTTP side against a real station: one board verified over a paced pty, one
// failing at img-crc, one slot where no board ever answers. Its status and metrics must say what
// its JSON results say, while hostile clients get nowhere and the updates go on; the page is
// loaded in a real browser where one is installed.
#include "boardsim.h"
#include "httpendpoint.h"
#include "processrun.h"
#include "testimages.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>

using namespace qvota::test;
using namespace Qt::StringLiterals;

namespace {

struct Reply
{
    QByteArray status; // "HTTP/1.1 200 OK"
    QByteArray headers;
    QByteArray body;
    bool closed = false; // the server closed the connection after it
};

// Sends request as given and reads one answer (by its Content-Length), then waits up to
// closeMs for the server to close.
Reply exchange(quint16 port, const QByteArray &request, int closeMs = 0)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    Reply reply;
    if (!socket.waitForConnected(5000))
        return reply;
    socket.write(request);
    QByteArray got;
    const QDeadlineTimer deadline(qint64(scaled_ms(closeMs + 5000)));
    qsizetype end = -1;
    while (!deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(50);
        got += socket.readAll();
        end = got.indexOf("\r\n\r\n");
        if (end < 0)
            continue;
        static const QRegularExpression length(u"(?im)^content-length: *(\\d+)"_s);
        const auto match = length.match(QString::fromLatin1(got.left(end)));
        // A HEAD answer names the length of the body it does not send.
        const bool head = request.startsWith("HEAD");
        const int body = match.hasMatch() && !head ? match.captured(1).toInt() : 0;
        if (got.size() >= end + 4 + body)
            break;
    }
    if (end < 0)
        return reply;
    const QDeadlineTimer closing(closeMs);
    while (!closing.hasExpired() && socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForDisconnected(20);
        got += socket.readAll(); // anything sent after the answer counts as its body
    }
    reply.status = got.left(got.indexOf("\r\n"));
    reply.headers = got.left(end);
    reply.body = got.mid(end + 4);
    reply.closed = socket.state() != QAbstractSocket::ConnectedState;
    return reply;
}

QByteArray get(quint16 port, const QByteArray &path)
{
    return exchange(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").body;
}

// "name{labels}" -> value for every sample of a text exposition.
QHash<QString, double> samples(const QByteArray &text)
{
    QHash<QString, double> values;
    for (const QByteArray &line : text.split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype blank = line.lastIndexOf(' ');
        values.insert(QString::fromUtf8(line.left(blank)), line.mid(blank + 1).toDouble());
    }
    return values;
}

QString sample(const char *name, const QString &slot, const QString &more = {})
{
    return QString::fromLatin1(name) + u"{slot=\""_s + slot + u'"' + more + u'}';
}

QString promtool()
{
    const QString onPath = QStandardPaths::findExecutable(u"promtool"_s);
    // `make test` unpacks it beside the build's programs when Debian's package is not installed.
    const QString unpacked = QFileInfo(QStringLiteral(QVOTA_EXE)).dir().filePath(u"../tools/promtool"_s);
    return !onPath.isEmpty() ? onPath : QFileInfo(unpacked).isExecutable() ? unpacked : QString();
}

} // namespace

class TestQvotaHttp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // About 18 s at 115200 baud, longer by the sanitizers' time scale as everything else
        // here is: the hostile requests and the scrapes happen during it.
        const int kib = int(std::min<qint64>(200 * scaled_ms(1000) / 1000, 2000));
        const QString image =
            write_file(m_dir, u"image.qvbit"_s, pack_with_sim(pattern_bytes(kib * 1024, 5)));
        QVERIFY(!image.isEmpty());
        QVERIFY(m_paced.startPty({u"--baud"_s, u"115200"_s}));
        QVERIFY(m_badFlash.startUdp({u"--bad-img-crc"_s}));
        m_boards = QStringList{u"uart:"_s + m_paced.ptyPath(),
                               u"udp:127.0.0.1:"_s + QString::number(m_badFlash.udpPort()),
                               u"udp:127.0.0.1:9"_s};
        QStringList arguments{u"station"_s, image, u"--json"_s, u"--no-history"_s,
                              u"--http"_s, u"127.0.0.1:0"_s};
        for (const QString &board : std::as_const(m_boards))
            arguments << u"--board"_s << board;
        m_station.start(QStringLiteral(QVOTA_EXE), arguments);
        QVERIFY(m_station.waitForStarted());
        const QJsonObject http = waitForEvent(u"http"_s, 10000);
        m_port = quint16(http.value(u"port"_s).toInt());
        QVERIFY2(m_port != 0, "no http event with the chosen port");
        QCOMPARE(http.value(u"url"_s).toString(), u"http://127.0.0.1:%1/"_s.arg(m_port));
    }

    void cleanupTestCase()
    {
        m_station.terminate();
        QVERIFY(m_station.waitForFinished(int(scaled_ms(5000))));
        QCOMPARE(m_station.exitCode(), 130);
    }

    // Nothing but GET and HEAD of the three paths is answered, a request is bounded in size
    // and in time, and none of it holds up the board being updated meanwhile.
    void hostileRequests_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<int>("closeMs"); // how long the server may take to close
        const QByteArray host = "Host: 127.0.0.1\r\n\r\n";
        QTest::newRow("unknown path") << "GET /etc/passwd HTTP/1.1\r\n" + host << QByteArray("404") << false << 300;
        QTest::newRow("file beside the page") << "GET /station.html HTTP/1.1\r\n" + host << QByteArray("404") << false << 300;
        QTest::newRow("POST") << "POST /api/status HTTP/1.1\r\nContent-Length: 2\r\n" + host + "{}" << QByteArray("405") << false << 300;
        QTest::newRow("DELETE") << "DELETE /metrics HTTP/1.1\r\n" + host << QByteArray("405") << false << 300;
        QTest::newRow("HEAD has no body") << "HEAD /metrics HTTP/1.1\r\n" + host << QByteArray("200") << false << 300;
        QTest::newRow("huge header") << "GET / HTTP/1.1\r\nX-Filler: " + QByteArray(20000, 'x') + "\r\n" + host
                                     << QByteArray("413") << true << 2000;
        QTest::newRow("never finishes") << QByteArray("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n")
                                        << QByteArray("408") << true << 8000;
    }

    void hostileRequests()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, status);
        QFETCH(bool, closed);
        QFETCH(int, closeMs);
        const int doneBefore = latestDone();
        QElapsedTimer timer;
        timer.start();
        const Reply reply = exchange(m_port, request, closeMs);
        QVERIFY2(reply.status.contains(QByteArray(" " + status + " ")), reply.status.constData());
        QCOMPARE(reply.closed, closed);
        if (request.startsWith("HEAD")) {
            QVERIFY(reply.headers.contains("Content-Length: "));
            QVERIFY2(reply.body.isEmpty(), reply.body.left(80).constData());
        }
        if (status == "405")
            QVERIFY(reply.headers.contains("Allow: GET, HEAD"));
        if (status == "408") {
            QVERIFY2(timer.elapsed() >= 4000, qPrintable(QString::number(timer.elapsed())));
            // The board went on receiving frames all that while.
            QVERIFY2(latestDone() > doneBefore, qPrintable(u"%1 -> %2"_s.arg(doneBefore).arg(latestDone())));
        }
        // The connection is still served after a refused request, or a new one is.
        QVERIFY(get(m_port, "/api/status").startsWith('{'));
    }

    // While the paced board updates, every scrape's counters are at least the last one's;
    // once both boards are done, /api/status and /metrics say what their JSON results say.
    void statusAgreesWithResults()
    {
        QHash<QString, double> previous;
        bool sawUpdating = false;
        const QDeadlineTimer deadline(qint64(scaled_ms(60000)));
        while (results().size() < 2 && !deadline.hasExpired()) {
            const QHash<QString, double> now = samples(get(m_port, "/metrics"));
            for (auto it = now.cbegin(); it != now.cend(); ++it) {
                if (it.key().contains(u"_total{"_s) || it.key().contains(u"_bucket{"_s)
                    || it.key().contains(u"_count{"_s))
                    QVERIFY2(it.value() >= previous.value(it.key()), qPrintable(it.key()));
            }
            previous = now;
            const QJsonObject slot = statusSlots().value(m_boards[0]);
            if (slot.value(u"state"_s) == u"updating"_s && slot.value(u"stage"_s) == u"transfer"_s
                && slot.value(u"percent"_s).toInt() > 0)
                sawUpdating = true;
            QTest::qWait(200);
        }
        QVERIFY(sawUpdating);
        const QHash<QString, QJsonObject> byBoard = results();
        QCOMPARE(byBoard.size(), 2);
        QCOMPARE(byBoard.value(m_boards[0]).value(u"outcome"_s).toString(), u"verified"_s);
        QCOMPARE(byBoard.value(m_boards[1]).value(u"stage"_s).toString(), u"img-crc"_s);

        const QByteArray text = get(m_port, "/metrics");
        const QHash<QString, double> metrics = samples(text);
        const QHash<QString, QJsonObject> shown = statusSlots();
        for (const QString &board : std::as_const(m_boards)) {
            const QJsonObject result = byBoard.value(board);
            const QJsonObject slot = shown.value(board);
            const QString outcome = result.value(u"outcome"_s).toString();
            const QString state = outcome.isEmpty() ? u"waiting"_s : outcome;
            QCOMPARE(slot.value(u"state"_s).toString(), state);
            QCOMPARE(metrics.value(sample("qvota_slot_state", board, u",state=\""_s + state + u'"')), 1.0);
            for (const QString &name : {u"verified"_s, u"failed"_s, u"cancelled"_s})
                QCOMPARE(metrics.value(sample("qvota_updates_total", board, u",outcome=\""_s + name + u'"')),
                         name == outcome ? 1.0 : 0.0);
            const double bytes = result.value(u"bytes"_s).toDouble();
            QCOMPARE(metrics.value(sample("qvota_sent_bytes_total", board)), bytes);
            QCOMPARE(metrics.value(sample("qvota_update_duration_seconds_count", board)), outcome.isEmpty() ? 0.0 : 1.0);
            if (outcome.isEmpty()) {
                QVERIFY(!slot.contains(u"last"_s));
                continue;
            }
            const QJsonObject last = slot.value(u"last"_s).toObject();
            for (const QString &key : {u"outcome"_s, u"stage"_s, u"message"_s, u"bytes"_s, u"seconds"_s})
                QCOMPARE(last.value(key), result.value(key));
            QCOMPARE(metrics.value(sample("qvota_slot_consecutive_failures", board)), outcome == u"failed"_s ? 1.0 : 0.0);
        }
        const QJsonObject status = QJsonDocument::fromJson(get(m_port, "/api/status")).object();
        QCOMPARE(status.value(u"v"_s).toInt(), 1);
        QCOMPARE(status.value(u"counts"_s).toObject(),
                 (QJsonObject{{u"verified"_s, 1}, {u"failed"_s, 1}, {u"cancelled"_s, 0}}));
        QCOMPARE(status.value(u"image"_s).toObject().value(u"sha256"_s).toString().size(), 64);

        const QString tool = promtool();
        if (tool.isEmpty())
            QSKIP("promtool not installed (Debian's prometheus package): the exposition was not linted");
        QProcess check;
        check.start(tool, {u"check"_s, u"metrics"_s});
        check.write(text);
        check.closeWriteChannel();
        QVERIFY(check.waitForFinished(30000));
        QVERIFY2(check.exitCode() == 0, check.readAll().constData());
    }

    // The page as a browser renders it: a tile per slot with its state in words.
    void pageInBrowser()
    {
        const QString chromium = QStandardPaths::findExecutable(u"chromium"_s);
        if (chromium.isEmpty())
            QSKIP("chromium not installed (apt-get install chromium): the page was not loaded in a browser");
        const ProcessResult run = run_process(
            chromium, {u"--headless"_s, u"--no-sandbox"_s, u"--disable-gpu"_s, u"--disable-quic"_s,
                       u"--no-first-run"_s, u"--disable-background-networking"_s,
                       u"--disable-component-update"_s, u"--disable-sync"_s,
                       u"--user-data-dir="_s + m_dir.filePath(u"chromium"_s),
                       u"--virtual-time-budget=3000"_s, u"--dump-dom"_s,
                       u"http://127.0.0.1:%1/"_s.arg(m_port)},
            120000);
        QVERIFY(run.finished);
        const QString dom = QString::fromUtf8(run.out);
        QVERIFY2(dom.contains(u"<ul id=\"slots\""_s), qPrintable(dom.left(400)));
        const QList<QPair<QString, QString>> tiles{{m_boards[0], u"Verified"_s},
                                                   {m_boards[1], u"Failed"_s},
                                                   {m_boards[2], u"Waiting"_s}};
        for (const auto &[board, state] : tiles) {
            const QRegularExpression tile(u"<li class=\"tile\" data-state=\"\\w+\"><h2 class=\"label\">"_s
                                          + QRegularExpression::escape(board)
                                          + u"</h2><p class=\"state\">"_s + state + u"</p>"_s);
            QVERIFY2(tile.match(dom).hasMatch(), qPrintable(board + u": "_s + dom.mid(dom.indexOf(u"<ul"_s), 1500)));
        }
        QVERIFY(dom.contains(u"At img-crc: IMG CRC32 mismatch"_s));
    }

    // The README's scrape configuration for many stations and its two alert rules.
    void prometheusFiles()
    {
        const QString tool = promtool();
        if (tool.isEmpty())
            QSKIP("promtool not installed (Debian's prometheus package): the Prometheus files were not checked");
        const QDir folder(QFileInfo(QStringLiteral(__FILE__)).dir().filePath(u"../../packaging/prometheus"_s));
        for (const QStringList &check : {QStringList{u"config"_s, folder.filePath(u"prometheus.yml"_s)},
                                         QStringList{u"rules"_s, folder.filePath(u"qvota-alerts.yml"_s)}}) {
            const ProcessResult run = run_process(tool, QStringList{u"check"_s} + check, 30000);
            QVERIFY2(run.exitCode == 0, QByteArray(run.out + run.err).constData());
        }
    }

    // --http takes a literal ADDRESS:PORT and nothing else.
    void endpointRule_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // the endpoint, or a part of the refusal
        QTest::newRow("ipv4") << u"127.0.0.1:9477"_s << u"127.0.0.1:9477"_s;
        QTest::newRow("port 0") << u"0.0.0.0:0"_s << u"0.0.0.0:0"_s;
        QTest::newRow("ipv6") << u"[::1]:80"_s << u"[::1]:80"_s;
        QTest::newRow("no port") << u"127.0.0.1"_s << u"not ADDRESS:PORT"_s;
        QTest::newRow("empty port") << u"127.0.0.1:"_s << u"0 to 65535"_s;
        QTest::newRow("port too big") << u"127.0.0.1:65536"_s << u"0 to 65535"_s;
        QTest::newRow("signed port") << u"127.0.0.1:+80"_s << u"0 to 65535"_s;
        QTest::newRow("ipv6 bare") << u"::1:80"_s << u"brackets"_s;
        QTest::newRow("ipv4 in brackets") << u"[127.0.0.1]:80"_s << u"only an IPv6"_s;
        QTest::newRow("host name") << u"localhost:80"_s << u"localhost:"_s;
    }

    void endpointRule()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const qvota::Expected<qvota::cli::HttpEndpoint> endpoint = qvota::cli::read_http_endpoint(text);
        QVERIFY2((endpoint ? endpoint->text() : endpoint.message()).contains(expected),
                 qPrintable(endpoint ? endpoint->text() : endpoint.message()));
    }

private:
    // Reads the station's JSON Lines that have come so far.
    void pump()
    {
        m_station.waitForReadyRead(10);
        while (m_station.canReadLine())
            m_events.append(QJsonDocument::fromJson(m_station.readLine()).object());
    }

    QJsonObject waitForEvent(const QString &event, int timeoutMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            pump();
            for (const QJsonObject &object : std::as_const(m_events)) {
                if (object.value(u"event"_s).toString() == event)
                    return object;
            }
        }
        return {};
    }

    int latestDone()
    {
        pump();
        int done = 0;
        for (const QJsonObject &object : std::as_const(m_events)) {
            if (object.value(u"event"_s) == u"progress"_s && object.value(u"board"_s) == m_boards[0])
                done = object.value(u"done"_s).toInt();
        }
        return done;
    }

    QHash<QString, QJsonObject> results()
    {
        pump();
        QHash<QString, QJsonObject> byBoard;
        for (const QJsonObject &object : std::as_const(m_events)) {
            if (object.value(u"event"_s) == u"result"_s)
                byBoard.insert(object.value(u"board"_s).toString(), object);
        }
        return byBoard;
    }

    QHash<QString, QJsonObject> statusSlots()
    {
        QHash<QString, QJsonObject> byBoard;
        const QJsonObject status = QJsonDocument::fromJson(get(m_port, "/api/status")).object();
        for (const QJsonValue &slot : status.value(u"slots"_s).toArray())
            byBoard.insert(slot[u"board"_s].toString(), slot.toObject());
        return byBoard;
    }

    QTemporaryDir m_dir;
    BoardSim m_paced;
    BoardSim m_badFlash;
    QStringList m_boards;
    QProcess m_station;
    quint16 m_port = 0;
    QList<QJsonObject> m_events;
};

QTEST_GUILESS_MAIN(TestQvotaHttp)
#include "tst_qvotahttp.moc"
