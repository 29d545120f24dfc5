// The controller end to end: real worker threads and links against the simulator on loopback.
#include "boardsim.h"
#include "container.h"
#include "otacontroller.h"
#include "processrun.h"
#include "testimages.h"
#include "threadboard.h"

#include <QElapsedTimer>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <memory>
#include <string>
#include <system_error>
#include <utility>

#if defined(__GLIBC__)
#    include <dlfcn.h>
#    include <pthread.h>

#    include <cerrno>

// Makes the next thread creation on the calling thread fail, as when the system is out of
// threads. It takes precedence over the C library's (and a sanitizer's), reached by RTLD_NEXT.
namespace {
thread_local bool failNextThreadCreation = false;
} // namespace

extern "C" int pthread_create(pthread_t *thread, const pthread_attr_t *attr, void *(*start)(void *),
                              void *arg)
{
    if (std::exchange(failNextThreadCreation, false))
        return EAGAIN;
    using Create = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
    static const auto next = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    return next ? next(thread, attr, start, arg) : ENOSYS;
}
#endif

using namespace Qt::StringLiterals;
using qvota::OtaController;
using namespace qvota::test;

namespace {

constexpr int RUN_TIMEOUT_MS = 30000;

// Every signal as one line of text, in emission order. A separate object, so that it can
// outlive the controller and show whatever arrives after the controller is gone.
class Recorder : public QObject
{
public:
    explicit Recorder(OtaController *c)
    {
        connect(c, &OtaController::logAppended, this, [this](const QString &line) {
            // The local time of the post and one blank lead; the flow's timings are masked.
            const bool stamped = QTime::fromString(line.left(12), u"HH:mm:ss.zzz"_s).isValid()
                                 && line.mid(12, 1) == u" "_s;
            static const QRegularExpression timing(uR"(\d+\.\ds|\d+(?= B/s))"_s);
            events << (stamped ? u"log "_s : u"unstamped "_s)
                          + line.mid(13).replace(timing, u"<t>"_s);
        });
        connect(c, &OtaController::logCleared, this, [this] { events << u"cleared"_s; });
        connect(c, &OtaController::runningChanged, this,
                [this, c] { events << (c->running() ? u"running true"_s : u"running false"_s); });
        connect(c, &OtaController::progressChanged, this, [this, c] {
            events << u"progress %1/%2"_s.arg(c->progressDone()).arg(c->progressTotal());
        });
        connect(c, &OtaController::statusChanged, this,
                [this, c] { events << u"status "_s + c->statusText(); });
        connect(c, &OtaController::otaFinished, this, [this](bool ok, const QString &message) {
            ++finishes;
            events << (ok ? u"finished true "_s : u"finished false "_s) + message;
        });
    }

    QStringList events;
    int finishes = 0;
};

QVariantMap udp_cfg(int boardPort, const QString &file, int hostPort = 0)
{
    return {{u"transport"_s, u"udp"_s},    {u"ip"_s, u"127.0.0.1"_s}, {u"udpPort"_s, boardPort},
            {u"hostIp"_s, u"127.0.0.1"_s}, {u"hostPort"_s, hostPort}, {u"file"_s, file}};
}

} // namespace

class TestOtaController : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    const QByteArray m_plain = pattern_bytes(5000, 7); // 20 frames, the last short
    QString m_image;
    QString m_bigImage; // many frames: a cancel has room to land mid-transfer

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_image = write_file(m_dir, u"image.qvbit"_s, pack_with_sim(m_plain));
        m_bigImage = write_file(m_dir, u"big.qvbit"_s, pack_with_sim(pattern_bytes(400000, 9)));
        QVERIFY(QFileInfo(m_image).size() > 0 && QFileInfo(m_bigImage).size() > 0);
    }

    // A run warns about nothing: before the worker was a QThread, every UDP run had Qt say
    // twice that its socket notifier lacked one.
    void init() { QTest::failOnWarning(QRegularExpression(u".*"_s)); }

    void metaObject()
    {
        // QML reaches both by index, so their order is part of the interface.
        const QMetaObject &mo = OtaController::staticMetaObject;
        const char *const kinds[] = {"method", "signal", "slot", "constructor"};
        QStringList actual;
        for (int i = mo.methodOffset(); i < mo.methodCount(); ++i) {
            const QMetaMethod m = mo.method(i);
            const char *kind = m.access() == QMetaMethod::Public ? kinds[m.methodType()] : "hidden";
            actual << u"%1 %2 %3 %4"_s
                          .arg(QString::fromUtf8(kind), QString::fromUtf8(m.typeName()),
                               QString::fromUtf8(m.methodSignature()),
                               QString::fromUtf8(m.parameterNames().join(',')))
                          .trimmed();
        }
        for (int i = mo.propertyOffset(); i < mo.propertyCount(); ++i) {
            const QMetaProperty p = mo.property(i);
            actual << u"%1 %2 %3 %4"_s.arg(
                p.isWritable() ? u"writable"_s : u"read-only"_s, QString::fromUtf8(p.typeName()),
                QString::fromUtf8(p.name()), QString::fromUtf8(p.notifySignal().name()));
        }
        QCOMPARE(
            actual,
            QStringList({u"signal void logAppended(QString) line"_s,
                         u"signal void logCleared()"_s,
                         u"signal void runningChanged()"_s,
                         u"signal void progressChanged()"_s,
                         u"signal void statusChanged()"_s,
                         u"signal void otaFinished(bool,QString) ok,message"_s,
                         u"method QStringList serialPorts()"_s,
                         u"method QStringList hostAddresses()"_s,
                         u"method QStringList browseDrives()"_s,
                         u"method QVariantMap browseListDir(QString,QVariantList) path,filters"_s,
                         u"method QVariantMap browseCreateDir(QString,QString) path,baseName"_s,
                         u"method void start(QVariantMap) cfg"_s,
                         u"method void cancel()"_s,
                         u"method void clearLog()"_s,
                         u"method QVariantMap browseRenameDir(QString,QString) path,newName"_s,
                         u"method QVariantMap imageSummary(QString) path"_s,
                         u"method QString saveLog(QString,QStringList) path,lines"_s,
                         u"method QVariantMap browseListAll(QString) path"_s,
                         u"method bool browseExists(QString) path"_s,
                         u"read-only bool running runningChanged"_s,
                         u"read-only int progressDone progressChanged"_s,
                         u"read-only int progressTotal progressChanged"_s,
                         u"read-only QString statusText statusChanged"_s}));
    }

    void failureBeforeLinkOpens_data()
    {
        QTest::addColumn<QByteArray>("bytes");  // the file's content; empty: no file at all
        QTest::addColumn<bool>("portTaken");    // the local port is held by another socket
        QTest::addColumn<QString>("message");   // "<file>" and "<port>" stand for their values
        QTest::addColumn<QStringList>("lines"); // the log before the failure

        const QByteArray good = make_container(pattern_bytes(100), 0xABCD);
        QTest::newRow("missing file")
            << QByteArray() << false << u"cannot read <file>"_s << QStringList{};
        QTest::newRow("plain file")
            << pattern_bytes(4096) << false
            << u"not a .qvbit encrypted image (plain .sbit/.bin rejected)"_s << QStringList{};
        QTest::newRow("truncated container")
            << good.chopped(1) << false << u"qvbit: size field mismatch (truncated or corrupt)"_s
            << QStringList{};
        // A local port that is taken: the bind fails before anything is sent.
        QTest::newRow("bind failure")
            << good << true << u"udp bind 127.0.0.1:<port> failed"_s
            << QStringList{
                   u"log qvbit v2 OK: plain=100 container=136 crc32=0000ABCD (on-chip decrypt)"_s,
                   u"log udp 127.0.0.1:9 <- 127.0.0.1:<port>"_s};
    }

    void failureBeforeLinkOpens()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, portTaken);
        QFETCH(QString, message);
        QFETCH(QStringList, lines);
        QUdpSocket holder;
        if (portTaken)
            QVERIFY(holder.bind(QHostAddress::LocalHost, 0, QUdpSocket::DontShareAddress));
        const QString port = QString::number(holder.localPort());
        lines.replaceInStrings(u"<port>"_s, port);
        message.replace(u"<port>"_s, port);
        const QString file = m_dir.filePath(QString::fromUtf8(QTest::currentDataTag()));
        if (!bytes.isEmpty())
            QVERIFY(
                !write_file(m_dir, QString::fromUtf8(QTest::currentDataTag()), bytes).isEmpty());

        OtaController controller;
        Recorder rec(&controller);
        controller.start(udp_cfg(9, file, holder.localPort()));
        QTRY_COMPARE_WITH_TIMEOUT(rec.finishes, 1, RUN_TIMEOUT_MS);
        // Never "status running": the link did not open.
        QCOMPARE(rec.events,
                 QStringList({u"progress 0/0"_s, u"running true"_s, u"cleared"_s}) + lines
                     + QStringList({u"running false"_s, u"status failed"_s,
                                    u"finished false "_s + message.replace(u"<file>"_s, file)}));
    }

    void successfulRun()
    {
        BoardSim sim;
        QVERIFY2(sim.startUdp(), qPrintable(sim.log()));
        OtaController controller;
        Recorder rec(&controller);
        // A clear mid-run, made from the status signal so that it always lands at the same point.
        connect(&controller, &OtaController::statusChanged, &controller, [&controller] {
            if (controller.statusText() == u"running"_s)
                controller.clearLog();
        });
        controller.cancel(); // while idle: must not cancel the run started next
        controller.start(udp_cfg(sim.udpPort(), m_image));
        // start's own signals come before it returns.
        QCOMPARE(rec.events, QStringList({u"progress 0/0"_s, u"running true"_s, u"cleared"_s}));
        QTRY_COMPARE_WITH_TIMEOUT(rec.finishes, 1, RUN_TIMEOUT_MS);

        const QString expected(
            u"progress 0/0|running true|cleared|"
            "log qvbit v2 OK: plain=5000 container=5036 crc32=%1 (on-chip decrypt)|"
            "log udp 127.0.0.1:%2 <- 127.0.0.1:0|log file=%3|status running|cleared|"
            "log len=5036 frames=20 last=172 crc32=%4 (plaintext, on-chip decrypt)|"
            "log RX> JEDEC=C86018|log TX> U len=5036 (erasing APP2 slot...)|"
            "log RX> READY (erase <t>)|progress 1/20|log progress 1/20 (5%)|progress 17/20|"
            "progress 20/20|log transfer done in <t> (<t> B/s)|log RX> RXDONE CRC32=%4|"
            "log RX CRC32 match|log RX> IMGCRC=%4|"
            "log IMG CRC32 (flash readback) MATCH - OTA WRITE VERIFIED|log OTA FLOW COMPLETE|"
            "running false|status done|finished true OTA FLOW COMPLETE"_s);
        const QString crc = QString::number(qvota::crc32(m_plain), 16).rightJustified(8, u'0');
        QCOMPARE(
            rec.events,
            expected.arg(crc.toUpper(), QString::number(sim.udpPort()), m_image, crc).split(u'|'));
        QCOMPARE(sim.stop().value(u"updates"_s).toInt(), 1);
    }

    void crcMismatch()
    {
        BoardSim sim;
        QVERIFY2(sim.startUdp({u"--bad-rx-crc"_s}), qPrintable(sim.log()));
        OtaController controller;
        Recorder rec(&controller);
        controller.start(udp_cfg(sim.udpPort(), m_image));
        QTRY_COMPARE_WITH_TIMEOUT(rec.finishes, 1, RUN_TIMEOUT_MS);

        // The simulator reports the complement of the right CRC.
        const quint32 crc = qvota::crc32(m_plain);
        const QString message =
            u"RX CRC32 mismatch rx=%1 file=%2"_s.arg(~crc, 8, 16, QLatin1Char(' '))
                .arg(crc, 8, 16, QLatin1Char(' '));
        QCOMPARE(
            rec.events.mid(rec.events.size() - 4),
            QStringList(
                {u"log RX> RXDONE CRC32="_s + QString::number(~crc, 16).rightJustified(8, u'0'),
                 u"running false"_s, u"status failed"_s, u"finished false "_s + message}));
        // A failure keeps the last progress the flow reported.
        QCOMPARE(controller.progressDone(), 20);
    }

    void cancelDuringTransfer()
    {
        // The board holds the ack of frame 3 until the cancel has been made, so the cancel
        // lands mid-transfer however slow the machine, and the flow must stop before frame 4.
        ThreadBoard board;
        board.holdAckOf(3);
        OtaController controller;
        Recorder rec(&controller);
        controller.start(udp_cfg(board.port(), m_bigImage));
        QVERIFY(board.waitUntilHolding(RUN_TIMEOUT_MS));
        QCoreApplication::processEvents();
        const QStringList before = rec.events;
        controller.cancel();
        QCOMPARE(rec.events, before); // cancel itself emits nothing
        board.release();
        QTRY_COMPARE_WITH_TIMEOUT(rec.finishes, 1, RUN_TIMEOUT_MS);

        QCOMPARE(rec.events.mid(rec.events.size() - 3),
                 QStringList({u"running false"_s, u"status failed"_s,
                              u"finished false cancelled by user"_s}));
        QVERIFY(controller.progressDone() < controller.progressTotal());
        QCOMPARE(board.framesSeen(), 4);
    }

    void cancelEndsEveryWait_data()
    {
        using Quiet = ThreadBoard::Quiet;
        QTest::addColumn<Quiet>("quiet");
        QTest::addColumn<QString>("waitingAfter"); // the log line that opens the wait
        QTest::addColumn<QVariantMap>("extra"); // start map keys on top of a UDP run's
        QTest::addColumn<QString>("finish");
        const QString cancelled = u"finished false cancelled by user"_s;
        // A cancel during identification keeps identification's own message.
        const QVariantMap none;
        QTest::newRow("serial open retries")
            << Quiet::Never << u"opened /nonexistent/ttyQV @115200"_s
            << QVariantMap{{u"transport"_s, u"uart"_s}, {u"port"_s, u"/nonexistent/ttyQV"_s}}
            << cancelled;
        QTest::newRow("identify") << Quiet::Identify << u"len="_s << none
                                  << u"finished false JEDEC check failed (board not in OTA image "
                                     u"or flash unreadable)"_s;
        QTest::newRow("erase") << Quiet::Erase << u"TX> U len="_s << none << cancelled;
        QTest::newRow("ack") << Quiet::Never << QString() << none << cancelled;
        QTest::newRow("rx-crc") << Quiet::RxDone << u"transfer done"_s << none << cancelled;
        QTest::newRow("img-crc") << Quiet::Readback << u"RX CRC32 match"_s << none << cancelled;
        // The image is verified by then: the cancel only ends the listening.
        QTest::newRow("warm boot") << Quiet::Never << u"TX> b (warm boot)"_s
                                   << QVariantMap{{u"warmBoot"_s, true}}
                                   << u"finished true OTA FLOW COMPLETE"_s;
    }

    void cancelEndsEveryWait()
    {
        QFETCH(ThreadBoard::Quiet, quiet);
        QFETCH(QString, waitingAfter);
        QFETCH(QVariantMap, extra);
        QFETCH(QString, finish);
        ThreadBoard board;
        board.keepQuietAt(quiet);
        if (waitingAfter.isEmpty())
            board.holdAckOf(3);
        OtaController controller;
        Recorder rec(&controller);
        QVariantMap cfg = udp_cfg(board.port(), m_image);
        cfg.insert(extra);
        controller.start(cfg);
        if (waitingAfter.isEmpty()) {
            QVERIFY(board.waitUntilHolding(RUN_TIMEOUT_MS));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!rec.events.filter(waitingAfter).isEmpty(), RUN_TIMEOUT_MS);
        }
        QTest::qWait(200); // well inside the wait, which lasts seconds
        QElapsedTimer timer;
        timer.start();
        controller.cancel();
        QTRY_COMPARE_WITH_TIMEOUT(rec.finishes, 1, RUN_TIMEOUT_MS);
        const qint64 elapsed = timer.elapsed();
        qInfo("finished %lld ms after the cancel", elapsed);
        QVERIFY2(elapsed < scaled_ms(1000), qPrintable(QString::number(elapsed)));
        QCOMPARE(rec.events.last(), finish);
        board.release();
    }

    void startWhileRunningIsIgnored()
    {
        BoardSim sim;
        QVERIFY2(sim.startUdp(), qPrintable(sim.log()));
        OtaController controller;
        Recorder rec(&controller);
        const QString missing = m_dir.filePath(u"missing.qvbit"_s);
        controller.start(udp_cfg(sim.udpPort(), m_image));
        // The finish is queued, so the run is still active here whatever the worker has done.
        controller.start(udp_cfg(sim.udpPort(), missing));
        QCOMPARE(rec.events, QStringList({u"progress 0/0"_s, u"running true"_s, u"cleared"_s}));
        QTRY_COMPARE_WITH_TIMEOUT(rec.finishes, 1, RUN_TIMEOUT_MS);
        QCOMPARE(rec.events.last(), u"finished true OTA FLOW COMPLETE"_s);

        // Once the run has finished, the next start is taken and replaces the old worker.
        controller.start(udp_cfg(sim.udpPort(), missing));
        QTRY_COMPARE_WITH_TIMEOUT(rec.finishes, 2, RUN_TIMEOUT_MS);
        QCOMPARE(rec.events.last(), QString(u"finished false cannot read "_s + missing));
        QCOMPARE(sim.stop().value(u"updates"_s).toInt(), 1);
    }

    void destroyDuringRun()
    {
        // The GUI thread is inside the destructor while the board holds frame 3, so the board
        // would let it go by itself after a while; the cancel must not wait for that.
        ThreadBoard board;
        board.holdAckOf(3, 5000);
        auto controller = std::make_unique<OtaController>();
        const Recorder rec(controller.get());
        controller->start(udp_cfg(board.port(), m_bigImage));
        QVERIFY(board.waitUntilHolding(RUN_TIMEOUT_MS));

        // The destructor cancels and joins: the wait for the held ack ends at the cancel, not
        // when the board lets it go, and no further frame is sent.
        QElapsedTimer timer;
        timer.start();
        controller.reset();
        QVERIFY2(timer.elapsed() < scaled_ms(500), qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(board.framesSeen(), 4);
        const QStringList atDestruction = rec.events;
        QCoreApplication::processEvents();
        QCOMPARE(rec.events, atDestruction);
        QVERIFY(!atDestruction.contains(u"running false"_s));
    }

    void workerThreadCannotStart()
    {
#if !defined(__GLIBC__)
        QSKIP("thread creation can only be made to fail where pthread_create can be interposed");
#else
        OtaController controller;
        Recorder rec(&controller);
        failNextThreadCreation = true;
        // Qt names the system's reason; the run's message only says what failed.
        const std::system_error eagain(
            std::make_error_code(std::errc::resource_unavailable_try_again));
        QTest::ignoreMessage(QtCriticalMsg, (std::string("QThread::start: Thread creation error (")
                                            + eagain.what() + ")")
                                               .c_str());
        controller.start(udp_cfg(9, m_dir.filePath(u"never-read.qvbit"_s)));
        QVERIFY(!failNextThreadCreation); // the creation really went through the hook
        // Like every outcome, the failure arrives after start has returned.
        QCOMPARE(rec.events, QStringList({u"progress 0/0"_s, u"running true"_s, u"cleared"_s}));
        QTRY_COMPARE_WITH_TIMEOUT(rec.finishes, 1, RUN_TIMEOUT_MS);
        QCOMPARE(rec.events.mid(3), QStringList({u"running false"_s, u"status failed"_s,
                                                 u"finished false cannot start worker thread"_s}));
        // The controller is idle again: the next start runs.
        controller.start(udp_cfg(9, m_dir.filePath(u"never-read.qvbit"_s)));
        QTRY_COMPARE_WITH_TIMEOUT(rec.finishes, 2, RUN_TIMEOUT_MS);
#endif
    }
};

QTEST_GUILESS_MAIN(TestOtaController)
#include "tst_otacontroller.moc"
