// The controller end to end: real worker threads, real links against the board simulator on
// loopback, and the signals as the window sees them.
#include "boardsim.h"
#include "browse.h"
#include "container.h"
#include "otacontroller.h"
#include "startconfig.h"
#include "testimages.h"

#include <QDir>
#include <QJsonArray>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#if defined(__GLIBC__)
#    include <dlfcn.h>
#    include <pthread.h>

#    include <cerrno>

// Lets a test make the next thread creation on its own thread fail, as it would when the
// system is out of threads. The definition in the executable takes precedence over the C
// library's (and a sanitizer's), which remain reachable through RTLD_NEXT; other threads are
// never affected.
namespace {
thread_local bool failNextThreadCreation = false;
} // namespace

extern "C" int pthread_create(pthread_t *thread, const pthread_attr_t *attr, void *(*start)(void *),
                              void *arg)
{
    if (failNextThreadCreation) {
        failNextThreadCreation = false;
        return EAGAIN;
    }
    using Create = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
    static const auto next = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    return next ? next(thread, attr, start, arg) : ENOSYS;
}
#endif

using qvota::OtaController;
using qvota::test::BoardSim;

namespace {

constexpr int RUN_TIMEOUT_MS = 30000;

// Every signal of interest as one line of text, in emission order. It is a separate object so
// that it can outlive the controller and show what arrives after the controller is gone.
class SignalRecorder : public QObject
{
public:
    explicit SignalRecorder(OtaController *controller)
    {
        connect(controller, &OtaController::logAppended, this, [this](const QString &line) {
            stampedLines.append(line);
            events.append(QStringLiteral("log ") + line.mid(13));
        });
        connect(controller, &OtaController::logCleared, this,
                [this] { events.append(QStringLiteral("cleared")); });
        connect(controller, &OtaController::runningChanged, this, [this, controller] {
            events.append(
                QStringLiteral("running %1").arg(controller->running() ? "true" : "false"));
        });
        connect(controller, &OtaController::progressChanged, this, [this, controller] {
            events.append(QStringLiteral("progress %1/%2")
                              .arg(controller->progressDone())
                              .arg(controller->progressTotal()));
        });
        connect(controller, &OtaController::statusChanged, this, [this, controller] {
            events.append(QStringLiteral("status ") + controller->statusText());
        });
        connect(
            controller, &OtaController::otaFinished, this, [this](bool ok, const QString &message) {
                events.append(QStringLiteral("finished %1 %2").arg(ok ? "true" : "false", message));
            });
    }

    QStringList events;
    QStringList stampedLines; // logAppended lines as emitted, time stamp included
};

// Waits until the spy has seen n emissions, then checks that it saw exactly n.
[[nodiscard]] bool saw_exactly(QSignalSpy &spy, int n, int timeoutMs = RUN_TIMEOUT_MS)
{
    QDeadlineTimer deadline(timeoutMs);
    while (spy.count() < n && !deadline.hasExpired())
        spy.wait(int(qMax<qint64>(1, deadline.remainingTime())));
    QCoreApplication::processEvents();
    return spy.count() == n;
}

QRegularExpression exact(const QString &text)
{
    return QRegularExpression(
        QRegularExpression::anchoredPattern(QRegularExpression::escape(text)));
}

QRegularExpression like(const QString &pattern)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern));
}

// Empty when every event matches its pattern, else a description of the first difference.
QString mismatch(const QStringList &events, const QList<QRegularExpression> &expected)
{
    for (qsizetype i = 0; i < qMax(events.size(), expected.size()); ++i) {
        const QString actual = i < events.size() ? events.at(i) : QStringLiteral("<none>");
        const QString wanted = i < expected.size() ? expected.at(i).pattern() : "<none>";
        if (i >= events.size() || i >= expected.size() || !expected.at(i).match(actual).hasMatch())
            return QStringLiteral("event %1: got '%2', expected /%3/").arg(i).arg(actual, wanted);
    }
    return {};
}

QString lower_crc(quint32 crc)
{
    return QStringLiteral("%1").arg(crc, 8, 16, QLatin1Char('0'));
}

// The ten keys the window passes, aimed at the simulator on loopback.
QVariantMap udp_cfg(quint16 boardPort, const QString &file)
{
    return {{"transport", "udp"}, {"port", ""},           {"baud", 115200},
            {"ip", "127.0.0.1"},  {"udpPort", boardPort}, {"hostIp", "127.0.0.1"},
            {"hostPort", 0},      {"file", file},         {"target", ""},
            {"warmBoot", false}};
}

int frame_count(qint64 size)
{
    return int((size + qvota::FRAME_PAYLOAD - 1) / qvota::FRAME_PAYLOAD);
}

// The flow's progress reports for a transfer of `frames` frames, with its progress log lines.
QList<QRegularExpression> transfer_events(int frames)
{
    QList<QRegularExpression> events;
    for (int i = 0; i < frames; ++i) {
        if (i % 16 == 0 || i == frames - 1)
            events.append(exact(QStringLiteral("progress %1/%2").arg(i + 1).arg(frames)));
        if (i % 256 == 0)
            events.append(exact(QStringLiteral("log progress %1/%2 (%3%)")
                                    .arg(i + 1)
                                    .arg(frames)
                                    .arg((i + 1) * 100 / frames)));
    }
    return events;
}

} // namespace

class TestOtaController : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void metaObject();
    void initialState();
    void browseInvokablesForward();
    void portAndAddressLists();
    void failureBeforeTransfer_data();
    void failureBeforeTransfer();
    void successfulRun();
    void successfulSerialRun();
    void crcMismatch();
    void cancelDuringTransfer();
    void startWhileRunningIsIgnored();
    void clearLogDuringRun();
    void consecutiveRuns();
    void destroyDuringRun();
    void workerThreadCannotStart();

private:
    // Packs plain with the simulator and writes the container; returns its path.
    QString packedImage(const QString &name, const QByteArray &plain);

    QTemporaryDir m_dir;
    QByteArray m_plain; // the image of most runs
    QString m_image;    // its container
    QString m_bigImage; // long enough to be cancelled mid-transfer
    qint64 m_bigImageSize = 0;
};

QString TestOtaController::packedImage(const QString &name, const QByteArray &plain)
{
    const QByteArray container = qvota::test::pack_with_sim(plain);
    if (container.isEmpty())
        return {};
    return qvota::test::write_file(m_dir, name, container);
}

void TestOtaController::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // 274 frames: two progress log lines and a short last frame.
    m_plain = qvota::test::pattern_bytes(70000, 7);
    m_image = packedImage("image.qvbit", m_plain);
    QVERIFY(!m_image.isEmpty());
    const QByteArray big = qvota::test::pattern_bytes(400000, 9);
    m_bigImage = packedImage("big.qvbit", big);
    QVERIFY(!m_bigImage.isEmpty());
    m_bigImageSize = QFileInfo(m_bigImage).size();
}

void TestOtaController::metaObject()
{
    const QMetaObject &mo = OtaController::staticMetaObject;
    QCOMPARE(mo.className(), "qvota::OtaController");
    QCOMPARE(mo.superClass(), &QObject::staticMetaObject);

    struct Method
    {
        QMetaMethod::MethodType type;
        const char *signature;
        const char *returnType;
        QList<QByteArray> parameterNames;
    };
    const QList<Method> methods{
        {QMetaMethod::Signal, "logAppended(QString)", "void", {"line"}},
        {QMetaMethod::Signal, "logCleared()", "void", {}},
        {QMetaMethod::Signal, "runningChanged()", "void", {}},
        {QMetaMethod::Signal, "progressChanged()", "void", {}},
        {QMetaMethod::Signal, "statusChanged()", "void", {}},
        {QMetaMethod::Signal, "otaFinished(bool,QString)", "void", {"ok", "message"}},
        {QMetaMethod::Method, "serialPorts()", "QStringList", {}},
        {QMetaMethod::Method, "hostAddresses()", "QStringList", {}},
        {QMetaMethod::Method, "browseDrives()", "QStringList", {}},
        {QMetaMethod::Method,
         "browseListDir(QString,QVariantList)",
         "QVariantMap",
         {"path", "filters"}},
        {QMetaMethod::Method,
         "browseCreateDir(QString,QString)",
         "QVariantMap",
         {"path", "baseName"}},
        {QMetaMethod::Method, "start(QVariantMap)", "void", {"cfg"}},
        {QMetaMethod::Method, "cancel()", "void", {}},
        {QMetaMethod::Method, "clearLog()", "void", {}},
        {QMetaMethod::Method,
         "browseRenameDir(QString,QString)",
         "QVariantMap",
         {"path", "newName"}},
    };
    QCOMPARE(mo.methodCount() - mo.methodOffset(), methods.size());
    for (int i = 0; i < methods.size(); ++i) {
        const QMetaMethod method = mo.method(mo.methodOffset() + i);
        QCOMPARE(method.methodSignature(), QByteArray(methods[i].signature));
        QCOMPARE(method.methodType(), methods[i].type);
        QCOMPARE(method.typeName(), methods[i].returnType);
        QCOMPARE(method.parameterNames(), methods[i].parameterNames);
        QCOMPARE(method.access(), QMetaMethod::Public);
    }

    struct Property
    {
        const char *name;
        QMetaType::Type type;
        const char *notify;
    };
    const QList<Property> properties{
        {"running", QMetaType::Bool, "runningChanged"},
        {"progressDone", QMetaType::Int, "progressChanged"},
        {"progressTotal", QMetaType::Int, "progressChanged"},
        {"statusText", QMetaType::QString, "statusChanged"},
    };
    QCOMPARE(mo.propertyCount() - mo.propertyOffset(), properties.size());
    for (int i = 0; i < properties.size(); ++i) {
        const QMetaProperty property = mo.property(mo.propertyOffset() + i);
        QCOMPARE(property.name(), properties[i].name);
        QCOMPARE(property.metaType().id(), int(properties[i].type));
        QVERIFY(property.isReadable());
        QVERIFY(!property.isWritable());
        QVERIFY(!property.isConstant());
        QVERIFY(property.hasNotifySignal());
        QCOMPARE(property.notifySignal().name(), QByteArray(properties[i].notify));
    }
}

void TestOtaController::initialState()
{
    OtaController controller;
    QCOMPARE(controller.running(), false);
    QCOMPARE(controller.progressDone(), 0);
    QCOMPARE(controller.progressTotal(), 0);
    QCOMPARE(controller.statusText(), QString());
    // The properties read what the getters return.
    QCOMPARE(controller.property("running"), QVariant(false));
    QCOMPARE(controller.property("statusText"), QVariant(QString()));
}

void TestOtaController::browseInvokablesForward()
{
    OtaController controller;
    const QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    QVERIFY(QDir(tmp.path()).mkdir("Old"));
    QVERIFY(!qvota::test::write_file(tmp, "a.qvbit", "x").isEmpty());
    QVERIFY(!qvota::test::write_file(tmp, "b.bin", "x").isEmpty());

    QStringList drives;
    QVERIFY(
        QMetaObject::invokeMethod(&controller, "browseDrives", Q_RETURN_ARG(QStringList, drives)));
    QCOMPARE(drives, qvota::browse_drives());

    QVariantMap created;
    QVERIFY(QMetaObject::invokeMethod(&controller, "browseCreateDir",
                                      Q_RETURN_ARG(QVariantMap, created),
                                      Q_ARG(QString, tmp.path()), Q_ARG(QString, "Builds")));
    QCOMPARE(created, (QVariantMap{{"ok", true}, {"name", "Builds"}}));

    QVariantMap renamed;
    QVERIFY(QMetaObject::invokeMethod(&controller, "browseRenameDir",
                                      Q_RETURN_ARG(QVariantMap, renamed),
                                      Q_ARG(QString, tmp.filePath("Old")), Q_ARG(QString, "New")));
    QCOMPARE(renamed, (QVariantMap{{"ok", true}, {"name", "New"}}));
    QCOMPARE(controller.browseRenameDir(tmp.filePath("New"), "Builds"),
             (QVariantMap{{"ok", false}, {"error", "exists"}}));

    QVariantMap listing;
    QVERIFY(QMetaObject::invokeMethod(
        &controller, "browseListDir", Q_RETURN_ARG(QVariantMap, listing),
        Q_ARG(QString, tmp.path()), Q_ARG(QVariantList, QVariantList{"Images (*.qvbit)"})));
    QCOMPARE(listing.value("ok"), QVariant(true));
    QCOMPARE(listing.value("dirs").toStringList(), QStringList({"Builds", "New"}));
    QCOMPARE(listing.value("files").toStringList(), QStringList{"a.qvbit"});
}

void TestOtaController::portAndAddressLists()
{
    const OtaController controller;

    const QStringList ports = controller.serialPorts();
    QStringList sorted = ports;
    sorted.sort(Qt::CaseSensitive);
    QCOMPARE(ports, sorted);
    QStringList available;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        available.append(info.portName());
    QCOMPARE(ports.size(), available.size());
    // Whatever the description, the window gets the port name back from an entry.
    for (const QString &entry : ports)
        QVERIFY2(available.contains(qvota::port_name_from_entry(entry)), qPrintable(entry));

    const QStringList hosts = controller.hostAddresses();
    sorted = hosts;
    sorted.sort(Qt::CaseSensitive);
    QCOMPARE(hosts, sorted);
    for (const QString &entry : hosts) {
        const QHostAddress address(qvota::host_ip_from_entry(entry));
        QVERIFY2(address.protocol() == QAbstractSocket::IPv4Protocol, qPrintable(entry));
        QVERIFY2(!address.isLoopback(), qPrintable(entry));
        const QNetworkInterface iface = QNetworkInterface::interfaceFromName(
            entry.left(entry.lastIndexOf(QLatin1String(" - "))));
        QVERIFY2(iface.isValid(), qPrintable(entry));
        QVERIFY(iface.flags().testFlags(QNetworkInterface::IsUp | QNetworkInterface::IsRunning));
    }
}

void TestOtaController::failureBeforeTransfer_data()
{
    QTest::addColumn<QString>("fileName"); // in the test folder; written from `bytes` unless empty
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QVariantMap>("cfg");   // the file key is added
    QTest::addColumn<QString>("message");   // "<file>" stands for the file path
    QTest::addColumn<QStringList>("lines"); // the lines logged before the failure

    const QByteArray payload = qvota::test::pattern_bytes(100);
    const QByteArray good = qvota::test::make_container(payload, 0xABCD);
    const QString goodLine =
        "qvbit v2 OK: plain=100 container=136 crc32=0000ABCD (on-chip decrypt)";
    const QVariantMap loopback{{"ip", "127.0.0.1"}, {"udpPort", 9}, {"hostIp", "127.0.0.1"}};

    QTest::newRow("missing file") << "missing.qvbit" << QByteArray() << loopback
                                  << "cannot read <file>" << QStringList{};
    QTest::newRow("folder instead of file")
        << "" << QByteArray() << loopback << "cannot read <file>" << QStringList{};
    QTest::newRow("plain image") << "plain.bin" << qvota::test::pattern_bytes(4096) << loopback
                                 << "not a .qvbit encrypted image (plain .sbit/.bin rejected)"
                                 << QStringList{};
    QTest::newRow("magic but short")
        << "short.qvbit" << good.left(35) << loopback
        << "not a .qvbit encrypted image (plain .sbit/.bin rejected)" << QStringList{};
    QTest::newRow("truncated container")
        << "truncated.qvbit" << good.chopped(1) << loopback
        << "qvbit: size field mismatch (truncated or corrupt)" << QStringList{};

    // A bind to an address this machine does not have fails before anything is sent.
    QTest::newRow("bind failure") << "good.qvbit" << good
                                  << QVariantMap{{"transport", "udp"},
                                                 {"ip", "127.0.0.1"},
                                                 {"udpPort", 9},
                                                 {"hostIp", "192.0.2.1"},
                                                 {"hostPort", 6666}}
                                  << "udp bind 192.0.2.1:6666 failed"
                                  << QStringList{goodLine, "udp 127.0.0.1:9 <- 192.0.2.1:6666"};
    QTest::newRow("host list entry, narrowed ports")
        << "good.qvbit" << good
        << QVariantMap{{"ip", "127.0.0.1"},
                       {"udpPort", 70000},
                       {"hostIp", "TEST-NET - 192.0.2.1"},
                       {"hostPort", "70000"}}
        << "udp bind 192.0.2.1:4464 failed"
        << QStringList{goodLine, "udp 127.0.0.1:4464 <- 192.0.2.1:4464"};
    QTest::newRow("UART in capitals is UDP")
        << "good.qvbit" << good
        << QVariantMap{{"transport", "UART"},
                       {"port", "COM3"},
                       {"ip", "127.0.0.1"},
                       {"hostIp", "192.0.2.1"}}
        << "udp bind 192.0.2.1:6666 failed"
        << QStringList{goodLine, "udp 127.0.0.1:7777 <- 192.0.2.1:6666"};
    // Only the file is given: every UDP default applies, and the bind to 192.168.0.3 fails here.
    QTest::newRow("UDP defaults") << "good.qvbit" << good << QVariantMap{}
                                  << "udp bind 192.168.0.3:6666 failed"
                                  << QStringList{goodLine,
                                                 "udp 192.168.0.100:7777 <- 192.168.0.3:6666"};
}

void TestOtaController::failureBeforeTransfer()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, bytes);
    QFETCH(QVariantMap, cfg);
    QFETCH(QString, message);
    QFETCH(QStringList, lines);

    // The defaults must never reach a board: skip where 192.168.0.3 would bind.
    if (!cfg.contains("hostIp")
        && QNetworkInterface::allAddresses().contains(QHostAddress("192.168.0.3")))
        QSKIP("this machine has 192.168.0.3; a run with the defaults would reach the network");

    const QString file = fileName.isEmpty() ? m_dir.path() : m_dir.filePath(fileName);
    if (!bytes.isEmpty())
        QVERIFY(!qvota::test::write_file(m_dir, fileName, bytes).isEmpty());
    cfg.insert("file", file);
    message.replace("<file>", file);

    OtaController controller;
    SignalRecorder recorder(&controller);
    QSignalSpy finished(&controller, &OtaController::otaFinished);
    controller.start(cfg);
    QVERIFY(saw_exactly(finished, 1));

    QList<QRegularExpression> expected{exact("progress 0/0"), exact("running true"),
                                       exact("cleared")};
    for (const QString &line : lines)
        expected.append(exact("log " + line));
    // Never "running": the link did not open.
    expected +=
        {exact("running false"), exact("status failed"), exact("finished false " + message)};
    const QString diff = mismatch(recorder.events, expected);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));
    QCOMPARE(controller.running(), false);
    QCOMPARE(controller.statusText(), QString("failed"));
    QCOMPARE(controller.progressDone(), 0);
    QCOMPARE(controller.progressTotal(), 0);
}

void TestOtaController::successfulRun()
{
    BoardSim sim;
    QVERIFY2(sim.startUdp(), qPrintable(sim.log()));
    const qint64 size = QFileInfo(m_image).size();
    const int frames = frame_count(size);
    const quint32 crc = qvota::crc32(m_plain);

    OtaController controller;
    SignalRecorder recorder(&controller);
    QSignalSpy finished(&controller, &OtaController::otaFinished);
    controller.start(udp_cfg(sim.udpPort(), m_image));
    // start's own signals come at once, before it returns.
    QCOMPARE(recorder.events, QStringList({"progress 0/0", "running true", "cleared"}));
    QCOMPARE(controller.running(), true);
    QCOMPARE(controller.statusText(), QString());
    QVERIFY(saw_exactly(finished, 1));

    QList<QRegularExpression> expected{
        exact("progress 0/0"),
        exact("running true"),
        exact("cleared"),
        exact(QString("log qvbit v2 OK: plain=%1 container=%2 crc32=%3 (on-chip decrypt)")
                  .arg(m_plain.size())
                  .arg(size)
                  .arg(lower_crc(crc).toUpper())),
        exact(QString("log udp 127.0.0.1:%1 <- 127.0.0.1:0").arg(sim.udpPort())),
        exact("log file=" + m_image),
        exact("status running"),
        exact(QString("log len=%1 frames=%2 last=%3 crc32=%4 (plaintext, on-chip decrypt)")
                  .arg(size)
                  .arg(frames)
                  .arg(size % 256 ? size % 256 : 256)
                  .arg(lower_crc(crc))),
        exact("log RX> JEDEC=C86018"),
        exact(QString("log TX> U len=%1 (erasing APP2 slot...)").arg(size)),
        like(R"(log RX> READY \(erase \d+\.\ds\))"),
    };
    expected += transfer_events(frames);
    expected += {
        like(R"(log transfer done in \d+\.\ds \(\d+ B/s\))"),
        exact("log RX> RXDONE CRC32=" + lower_crc(crc)),
        exact("log RX CRC32 match"),
        exact("log RX> IMGCRC=" + lower_crc(crc)),
        exact("log IMG CRC32 (flash readback) MATCH - OTA WRITE VERIFIED"),
        exact("log OTA FLOW COMPLETE"),
        exact("running false"),
        exact("status done"),
        exact("finished true OTA FLOW COMPLETE"),
    };
    const QString diff = mismatch(recorder.events, expected);
    QVERIFY2(diff.isEmpty(), qPrintable(diff));

    // Each line carries the local time of its post and one space before the engine's text.
    static const QRegularExpression stamp(R"(^(\d\d:\d\d:\d\d\.\d{3}) \S)");
    for (const QString &line : recorder.stampedLines) {
        const QRegularExpressionMatch m = stamp.match(line);
        QVERIFY2(m.hasMatch(), qPrintable(line));
        QVERIFY2(QTime::fromString(m.captured(1), "HH:mm:ss.zzz").isValid(), qPrintable(line));
    }

    QCOMPARE(controller.running(), false);
    QCOMPARE(controller.statusText(), QString("done"));
    QCOMPARE(controller.progressDone(), frames);
    QCOMPARE(controller.progressTotal(), frames);

    const QJsonObject record = sim.stop();
    QCOMPARE(record.value("updates").toInt(), 1);
    QCOMPARE(record.value("frames").toArray().size(), frames);
    QCOMPARE(record.value("warmBoot").toInt(), 0);
}

void TestOtaController::successfulSerialRun()
{
#ifndef Q_OS_UNIX
    QSKIP("the simulator offers a serial port only through a POSIX pty");
#endif
    BoardSim sim;
    QVERIFY2(sim.startPty({"--baud", "921600"}), qPrintable(sim.log()));
    const QByteArray plain = qvota::test::pattern_bytes(3000, 3);
    const QString image = packedImage("serial.qvbit", plain);
    QVERIFY(!image.isEmpty());

    OtaController controller;
    SignalRecorder recorder(&controller);
    QSignalSpy finished(&controller, &OtaController::otaFinished);
    // As the window passes a port list entry, and a baud rate from a text field.
    controller.start({{"transport", "uart"},
                      {"port", sim.ptyPath() + " - Simulated board"},
                      {"baud", "921600"},
                      {"file", image}});
    QVERIFY(saw_exactly(finished, 1));
    QCOMPARE(finished.at(0), (QVariantList{true, "OTA FLOW COMPLETE"}));
    QCOMPARE(
        recorder.events.mid(3, 3),
        QStringList({QString("log qvbit v2 OK: plain=3000 container=3036 crc32=%1 (on-chip "
                             "decrypt)")
                         .arg(lower_crc(qvota::crc32(plain)).toUpper()),
                     QString("log opened %1 @921600").arg(sim.ptyPath()), "log file=" + image}));
    QCOMPARE(sim.stop().value("updates").toInt(), 1);
}

void TestOtaController::crcMismatch()
{
    BoardSim sim;
    QVERIFY2(sim.startUdp({"--bad-rx-crc"}), qPrintable(sim.log()));
    const int frames = frame_count(QFileInfo(m_image).size());
    const quint32 crc = qvota::crc32(m_plain);

    OtaController controller;
    SignalRecorder recorder(&controller);
    QSignalSpy finished(&controller, &OtaController::otaFinished);
    controller.start(udp_cfg(sim.udpPort(), m_image));
    QVERIFY(saw_exactly(finished, 1));

    // The simulator reports the complement of the right CRC.
    const QString message = QString("RX CRC32 mismatch rx=%1 file=%2")
                                .arg(~crc, 8, 16, QLatin1Char(' '))
                                .arg(crc, 8, 16, QLatin1Char(' '));
    QCOMPARE(finished.at(0), (QVariantList{false, message}));
    QCOMPARE(recorder.events.mid(recorder.events.size() - 4),
             QStringList({"log RX> RXDONE CRC32=" + lower_crc(~crc), "running false",
                          "status failed", "finished false " + message}));
    QVERIFY(recorder.events.contains("status running"));
    QCOMPARE(controller.statusText(), QString("failed"));
    // A failure keeps the last progress the flow reported.
    QCOMPARE(controller.progressDone(), frames);
    QCOMPARE(controller.progressTotal(), frames);
    QCOMPARE(sim.stop().value("readback").toInt(), 0);
}

void TestOtaController::cancelDuringTransfer()
{
    BoardSim sim;
    QVERIFY2(sim.startUdp({"--latency-ms", "2"}), qPrintable(sim.log()));
    const int frames = frame_count(m_bigImageSize);

    OtaController controller;
    SignalRecorder recorder(&controller);
    QSignalSpy finished(&controller, &OtaController::otaFinished);
    controller.start(udp_cfg(sim.udpPort(), m_bigImage));
    QTRY_VERIFY_WITH_TIMEOUT(controller.progressDone() > 0 || !finished.isEmpty(), RUN_TIMEOUT_MS);
    QVERIFY(finished.isEmpty());
    controller.cancel();
    // cancel itself emits nothing and leaves the run going.
    QCOMPARE(controller.running(), true);
    QVERIFY(saw_exactly(finished, 1));

    QCOMPARE(finished.at(0), (QVariantList{false, "cancelled by user"}));
    QCOMPARE(recorder.events.mid(recorder.events.size() - 3),
             QStringList({"running false", "status failed", "finished false cancelled by user"}));
    QCOMPARE(controller.running(), false);
    QVERIFY(controller.progressDone() > 0);
    QVERIFY(controller.progressDone() < frames);
    QCOMPARE(controller.progressTotal(), frames);

    const QJsonObject record = sim.stop();
    QCOMPARE(record.value("updates").toInt(), 0);
    QVERIFY(record.value("frames").toArray().size() < frames);
}

void TestOtaController::startWhileRunningIsIgnored()
{
    BoardSim sim;
    QVERIFY2(sim.startUdp(), qPrintable(sim.log()));

    OtaController controller;
    SignalRecorder recorder(&controller);
    QSignalSpy finished(&controller, &OtaController::otaFinished);
    controller.start(udp_cfg(sim.udpPort(), m_image));
    const QStringList afterFirst = recorder.events;
    // The finish is queued, so the run is still active here whatever the worker has done.
    controller.start(udp_cfg(sim.udpPort(), m_dir.filePath("missing.qvbit")));
    QCOMPARE(recorder.events, afterFirst);

    QVERIFY(saw_exactly(finished, 1));
    QCOMPARE(finished.at(0), (QVariantList{true, "OTA FLOW COMPLETE"}));
    QCOMPARE(recorder.events.count("cleared"), 1);
    const QJsonObject record = sim.stop();
    QCOMPARE(record.value("identify").toInt(), 1);
    QCOMPARE(record.value("updates").toInt(), 1);
}

void TestOtaController::clearLogDuringRun()
{
    BoardSim sim;
    QVERIFY2(sim.startUdp(), qPrintable(sim.log()));

    OtaController controller;
    SignalRecorder recorder(&controller);
    QSignalSpy finished(&controller, &OtaController::otaFinished);
    QSignalSpy cleared(&controller, &OtaController::logCleared);
    controller.start(udp_cfg(sim.udpPort(), m_image));
    QTRY_VERIFY_WITH_TIMEOUT(controller.statusText() == "running" || !finished.isEmpty(),
                             RUN_TIMEOUT_MS);
    QVERIFY(finished.isEmpty());
    controller.clearLog();
    QCOMPARE(cleared.count(), 2);
    QCOMPARE(recorder.events.last(), QString("cleared"));
    const qsizetype clearedAt = recorder.events.size() - 1;

    QVERIFY(saw_exactly(finished, 1));
    QCOMPARE(finished.at(0), (QVariantList{true, "OTA FLOW COMPLETE"}));
    // Lines logged after the clear still arrive, up to the flow's last one.
    const QStringList later = recorder.events.mid(clearedAt + 1);
    QVERIFY(later.contains("log RX CRC32 match"));
    QVERIFY(later.contains("log OTA FLOW COMPLETE"));
    QCOMPARE(cleared.count(), 2);
}

void TestOtaController::consecutiveRuns()
{
    BoardSim sim;
    QVERIFY2(sim.startUdp(), qPrintable(sim.log()));

    OtaController controller;
    SignalRecorder recorder(&controller);
    QSignalSpy finished(&controller, &OtaController::otaFinished);

    // A cancel while idle stays set only until the next start clears it.
    controller.cancel();
    QVERIFY(recorder.events.isEmpty());
    controller.start(udp_cfg(sim.udpPort(), m_image));
    QVERIFY(saw_exactly(finished, 1));
    QCOMPARE(finished.at(0), (QVariantList{true, "OTA FLOW COMPLETE"}));
    const int frames = controller.progressTotal();
    QVERIFY(frames > 0);

    // The next run resets the progress at once but keeps the old status until its link opens,
    // which this one never does.
    recorder.events.clear();
    const QString missing = m_dir.filePath("missing.qvbit");
    controller.start(udp_cfg(sim.udpPort(), missing));
    QCOMPARE(controller.statusText(), QString("done"));
    QCOMPARE(controller.progressTotal(), 0);
    QVERIFY(saw_exactly(finished, 2));
    QCOMPARE(recorder.events,
             QStringList({"progress 0/0", "running true", "cleared", "running false",
                          "status failed", "finished false cannot read " + missing}));

    // And a failed run does not spoil the one after it.
    controller.start(udp_cfg(sim.udpPort(), m_image));
    QVERIFY(saw_exactly(finished, 3));
    QCOMPARE(finished.at(2), (QVariantList{true, "OTA FLOW COMPLETE"}));
    QCOMPARE(controller.statusText(), QString("done"));
    QCOMPARE(sim.stop().value("updates").toInt(), 2);
}

void TestOtaController::destroyDuringRun()
{
    BoardSim sim;
    QVERIFY2(sim.startUdp({"--latency-ms", "2"}), qPrintable(sim.log()));
    const int frames = frame_count(m_bigImageSize);

    auto controller = std::make_unique<OtaController>();
    const SignalRecorder recorder(controller.get());
    QSignalSpy finished(controller.get(), &OtaController::otaFinished);
    controller->start(udp_cfg(sim.udpPort(), m_bigImage));
    QTRY_VERIFY_WITH_TIMEOUT(controller->progressDone() > 0 || !finished.isEmpty(), RUN_TIMEOUT_MS);
    QVERIFY(finished.isEmpty());

    // The destructor cancels and joins; the flow notices before its next frame.
    controller.reset();
    const QStringList atDestruction = recorder.events;
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    QCOMPARE(recorder.events, atDestruction);
    QVERIFY(!atDestruction.contains("running false"));

    const QJsonObject record = sim.stop();
    QCOMPARE(record.value("updates").toInt(), 0);
    QVERIFY(record.value("frames").toArray().size() < frames);
}

void TestOtaController::workerThreadCannotStart()
{
#if !defined(__GLIBC__)
    QSKIP("thread creation can only be made to fail where pthread_create can be interposed");
#else
    OtaController controller;
    SignalRecorder recorder(&controller);
    QSignalSpy finished(&controller, &OtaController::otaFinished);

    failNextThreadCreation = true;
    controller.start(udp_cfg(9, m_dir.filePath("never-read.qvbit")));
    QVERIFY(!failNextThreadCreation); // the creation really went through the hook
    // Like every outcome, the failure arrives after start has returned.
    QCOMPARE(recorder.events, QStringList({"progress 0/0", "running true", "cleared"}));
    QVERIFY(saw_exactly(finished, 1));
    QCOMPARE(finished.at(0).at(0), QVariant(false));
    const QString message = finished.at(0).at(1).toString();
    QVERIFY2(message.startsWith("cannot start worker thread: ") && message.size() > 28,
             qPrintable(message));
    QCOMPARE(recorder.events.mid(3),
             QStringList({"running false", "status failed", "finished false " + message}));
    QCOMPARE(controller.running(), false);

    // The controller is idle again: the next start runs a worker as usual.
    const QString missing = m_dir.filePath("missing.qvbit");
    controller.start(udp_cfg(9, missing));
    QVERIFY(saw_exactly(finished, 2));
    QCOMPARE(finished.at(1), (QVariantList{false, "cannot read " + missing}));
#endif
}

QTEST_GUILESS_MAIN(TestOtaController)
#include "tst_otacontroller.moc"
