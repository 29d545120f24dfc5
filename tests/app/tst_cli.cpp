// The command line as a user meets it, before any transport is touched: options, help,
// image checks and their exact lines and exit codes.
#include "boardsim.h"
#include "processrun.h"
#include "testimages.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace qvota::test;
using namespace Qt::StringLiterals;

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void requiredOptions_data();
    void requiredOptions();
    void help();
    void malformedCommandLine_data();
    void malformedCommandLine();
    void imageChecks_data();
    void imageChecks();
    void badOptionsTouchNothing_data();
    void badOptionsTouchNothing();
    void serialDefaultsAndOpenFailure();
    void windowStartsWithoutLeadingCli_data();
    void windowStartsWithoutLeadingCli();

private:
    QTemporaryDir m_dir;
    QString m_valid; // 100-byte payload, header crc 0x0000ABCD
};

static ProcessResult cli(const QStringList &arguments, int timeoutMs = 30000)
{
    return run_process(QStringLiteral(QVOTA_APP_EXE), QStringList{u"--cli"_s} + arguments,
                       timeoutMs);
}

void TestCli::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_valid = write_file(m_dir, QStringLiteral("valid.qvbit"),
                         make_container(QByteArray(100, 'x'), 0xABCD));
    QVERIFY(!m_valid.isEmpty());
}

void TestCli::requiredOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("nothing") << QStringList();
    QTest::newRow("only file") << QStringList{u"--file"_s, u"/nonexistent/x.qvbit"_s};
    QTest::newRow("only transport") << QStringList{u"--transport"_s, u"udp"_s};
    QTest::newRow("other options only") << QStringList{u"--retries"_s, u"5"_s, u"--warm-boot"_s};
}

void TestCli::requiredOptions()
{
    QFETCH(QStringList, arguments);
    const ProcessResult r = cli(arguments);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    const QStringList lines = r.outLines();
    QVERIFY(lines.size() > 3);
    QCOMPARE(lines.first(), QStringLiteral("ERROR: --transport and --file are required"));
    // The help follows the error line, and the file is never opened.
    QVERIFY(lines.at(1).startsWith(QStringLiteral("Usage: ")));
    QVERIFY(lines.contains(QStringLiteral("Quelvane PGL25G OTA host (CLI)")));
    QVERIFY(!r.out.contains("cannot read"));
}

void TestCli::help()
{
    const ProcessResult r = cli({u"--help"_s});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    const QString text = QString::fromLocal8Bit(r.out);
    QVERIFY(text.contains(QStringLiteral("Quelvane PGL25G OTA host (CLI)")));

    // Each option once, in order, with its value name and help text.
    const QStringList expected{u"--transport <t>"_s, u"uart | udp"_s,
                               u"--file <f>"_s,      u"image file"_s,
                               u"--port <p>"_s,      u"UART port"_s,
                               u"--baud <b>"_s,      u"baud"_s,
                               u"--ip <ip>"_s,       u"board IP"_s,
                               u"--udp-port <n>"_s,  u"board OTA port"_s,
                               u"--host-ip <ip>"_s,  u"local bind IP"_s,
                               u"--host-port <n>"_s, u"local bind port"_s,
                               u"--target <t>"_s,    u"warm-boot target 1|2"_s,
                               u"--warm-boot"_s,     u"issue 'b' after update"_s,
                               u"--retries <n>"_s,   u"frame retries"_s};
    qsizetype from = text.indexOf(QStringLiteral("--help"));
    QVERIFY(from >= 0);
    for (const QString &piece : expected) {
        const qsizetype at = text.indexOf(piece, from);
        QVERIFY2(at > from, qPrintable(QStringLiteral("missing or out of order: ") + piece));
        from = at;
    }
    QVERIFY(!text.contains(QStringLiteral("--version")));
    QVERIFY(!text.contains(QStringLiteral("-t,"))); // value names are not short aliases
}

void TestCli::malformedCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown option")
        << QStringList{u"--bogus"_s} << QStringLiteral("Unknown option 'bogus'.");
    QTest::newRow("value missing")
        << QStringList{u"--file"_s} << QStringLiteral("Missing value after '--file'.");
    QTest::newRow("value names are not aliases")
        << QStringList{u"-t"_s, u"udp"_s, u"--file"_s, u"x"_s}
        << QStringLiteral("Unknown option 't'.");
}

void TestCli::malformedCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const ProcessResult r = cli(arguments);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(QString::fromLocal8Bit(r.err).contains(message), r.err.constData());
    QVERIFY(!r.out.contains("ERROR:"));
}

void TestCli::imageChecks_data()
{
    QTest::addColumn<QByteArray>("content"); // empty name below: no file is written
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("line");

    QTest::newRow("missing file") << QByteArray() << QString()
                                  << QStringLiteral("ERROR: cannot read %1");
    QTest::newRow("folder") << QByteArray() << QStringLiteral(".")
                            << QStringLiteral("ERROR: cannot read %1");
    QTest::newRow("plain bitstream")
        << QByteArray(4096, '\xff') << QStringLiteral("plain.sbit")
        << QStringLiteral("ERROR: not a .qvbit encrypted image (plain .sbit/.bin rejected)");
    QTest::newRow("empty file")
        << QByteArray() << QStringLiteral("empty.qvbit")
        << QStringLiteral("ERROR: not a .qvbit encrypted image (plain .sbit/.bin rejected)");
    QTest::newRow("truncated container")
        << make_container(QByteArray(99, 'x'), 100, 1) << QStringLiteral("truncated.qvbit")
        << QStringLiteral("ERROR: qvbit: size field mismatch (truncated or corrupt)");
    QTest::newRow("size field zero")
        << make_container(QByteArray(), 0, 1) << QStringLiteral("zero.qvbit")
        << QStringLiteral("ERROR: qvbit: size field mismatch (truncated or corrupt)");
    // Once, these never returned, or read gigabytes before the verdict.
    QTest::newRow("named pipe") << QByteArray() << QStringLiteral("fifo")
                                << QStringLiteral("ERROR: cannot read %1: not a regular file");
    QTest::newRow("device") << QByteArray() << QStringLiteral("/dev/zero")
                            << QStringLiteral("ERROR: cannot read %1: not a regular file");
    QTest::newRow("3 GiB, sparse")
        << QByteArray() << QStringLiteral("huge")
        << QStringLiteral("ERROR: cannot read %1: 3221225472 bytes, far more than an image holds "
                          "(at most 2097152)");
}

void TestCli::imageChecks()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, name);
    QFETCH(QString, line);

    QString path = m_dir.filePath(name.isEmpty() ? QStringLiteral("does-not-exist.qvbit") : name);
    if (name == QLatin1String(".")) {
        path = m_dir.path();
    } else if (name.startsWith(QLatin1Char('/'))) {
        path = name;
    } else if (name == QLatin1String("fifo")) {
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (name == QLatin1String("huge")) {
        QFile huge(path);
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(3) << 30));
    } else if (!name.isEmpty()) {
        path = write_file(m_dir, name, content);
    }
    QVERIFY(!path.isEmpty());

    // A transport that needs no network: a bad file must be reported before any link exists.
    const ProcessResult r =
        cli({u"--transport"_s, u"uart"_s, u"--port"_s, u"/dev/null-port"_s, u"--file"_s, path});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.outLines(), QStringList{line.contains(QLatin1String("%1")) ? line.arg(path) : line});
}

void TestCli::badOptionsTouchNothing_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error");
    // UDP rows aim at a listening simulator, UART rows at its pty, with a valid image: a value
    // that slipped through would reach the board.
    const auto udp = [](const QStringList &more) {
        return QStringList{u"--transport"_s, u"udp"_s, u"--file"_s, u"FILE"_s, u"--ip"_s,
                           u"127.0.0.1"_s, u"--udp-port"_s, u"SIMPORT"_s, u"--host-ip"_s,
                           u"127.0.0.1"_s, u"--host-port"_s, u"0"_s}
            + more;
    };
    const auto uart = [](const QStringList &more) {
        return QStringList{u"--transport"_s, u"uart"_s, u"--file"_s, u"FILE"_s, u"--port"_s,
                           u"SIMPTY"_s}
            + more;
    };
    QTest::newRow("transport") << QStringList{u"--transport"_s, u"UART"_s, u"--file"_s,
                                              u"FILE"_s}
                               << u"unknown transport UART"_s;
    QTest::newRow("target 3") << udp({u"--target"_s, u"3"_s})
                              << u"--target 3: not a warm-boot target (1 or 2)"_s;
    QTest::newRow("retries 0") << udp({u"--retries"_s, u"0"_s})
                               << u"--retries 0: not a number of tries (1..100)"_s;
    QTest::newRow("retries abc") << udp({u"--retries"_s, u"abc"_s})
                                 << u"--retries abc: not a number of tries (1..100)"_s;
    // The last value of an option is the one taken.
    QTest::newRow("udp-port 0") << udp({u"--udp-port"_s, u"0"_s})
                                << u"--udp-port 0: not a port number (1..65535)"_s;
    QTest::newRow("host-port 65536") << udp({u"--host-port"_s, u"65536"_s})
                                     << u"--host-port 65536: not a port number (0..65535)"_s;
    QTest::newRow("baud 0") << uart({u"--baud"_s, u"0"_s})
                            << u"--baud 0: not a baud rate (a whole number above 0)"_s;
    QTest::newRow("empty port") << uart({u"--port"_s, u""_s})
                                << u"--port '': no serial port named"_s;
    QTest::newRow("name") << udp({u"--ip"_s, u"localhost"_s})
                          << u"--ip localhost: not an IP address (names are not looked up)"_s;
    QTest::newRow("brackets")
        << udp({u"--ip"_s, u"[::1]"_s})
        << u"--ip [::1]: not an IP address (write an IPv6 address without brackets)"_s;
    QTest::newRow("leading zero") << udp({u"--ip"_s, u"127.0.0.010"_s})
        << u"--ip 127.0.0.010: not an IPv4 address (four numbers 0-255, no leading zeros)"_s;
    QTest::newRow("mapped host") << udp({u"--host-ip"_s, u"::ffff:127.0.0.1"_s})
        << u"--host-ip ::ffff:127.0.0.1: an IPv4-mapped address (write the IPv4 address 127.0.0.1)"_s;
    QTest::newRow("families") << udp({u"--ip"_s, u"::1"_s})
                              << u"--ip ::1 and --host-ip 127.0.0.1: not of the same IP family"_s;
}

void TestCli::badOptionsTouchNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    BoardSim udpSim;
    BoardSim ptySim;
    QVERIFY2(udpSim.startUdp(), qPrintable(udpSim.log()));
    QVERIFY2(ptySim.startPty(), qPrintable(ptySim.log()));
    arguments.replaceInStrings(u"SIMPORT"_s, QString::number(udpSim.udpPort()));
    arguments.replaceInStrings(u"SIMPTY"_s, ptySim.ptyPath());
    arguments.replaceInStrings(u"FILE"_s, m_valid);

    const ProcessResult r = cli(arguments);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    // The container is judged and said first, then the options, before the board hears a byte.
    QCOMPARE(r.outLines(),
             (QStringList{u"qvbit v2 OK: plain=100 crc32=0000ABCD (on-chip decrypt)"_s,
                          u"ERROR: "_s + error}));
    for (BoardSim *sim : {&udpSim, &ptySim}) {
        const QJsonObject record = sim->stop();
        QVERIFY(!record.isEmpty());
        QCOMPARE(record.value(u"identify"_s).toInt(), 0);
        QVERIFY(record_ints(record, u"erase"_s).isEmpty());
    }
}

void TestCli::serialDefaultsAndOpenFailure()
{
    // The only slow case here: a port that does not exist is retried for about ten seconds.
    QElapsedTimer timer;
    timer.start();
    const ProcessResult r = cli({u"--transport"_s, u"uart"_s, u"--file"_s, m_valid}, 60000);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.outLines(),
             (QStringList{u"qvbit v2 OK: plain=100 crc32=0000ABCD (on-chip decrypt)"_s,
                          u"opened COM35 @115200"_s, u"ERROR: cannot open COM35"_s}));
    QVERIFY2(timer.elapsed() >= 9000, qPrintable(QString::number(timer.elapsed())));
}

void TestCli::windowStartsWithoutLeadingCli_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("cli later") << QStringList{u"--transport"_s, u"udp"_s, u"--cli"_s};
    QTest::newRow("upper case") << QStringList{u"--CLI"_s, u"--help"_s};
    QTest::newRow("help alone") << QStringList{u"--help"_s};
}

void TestCli::windowStartsWithoutLeadingCli()
{
    QFETCH(QStringList, arguments);
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Keeps the user's settings out.
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
    app.setProcessEnvironment(env);
    app.start(QStringLiteral(QVOTA_APP_EXE), arguments);
    QVERIFY(app.waitForStarted());
    // A command-line start would have printed and ended by now, a window that failed to load
    // would have ended with -1; the window stays until it is closed.
    QVERIFY2(!app.waitForFinished(3000), app.readAllStandardError().constData());
    QVERIFY(app.readAllStandardOutput().isEmpty());
    app.kill();
    app.waitForFinished();
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
