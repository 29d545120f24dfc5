// The command line as a user meets it, before any transport is touched: options, help,
// image checks and their exact lines and exit codes.
#include "processrun.h"
#include "testimages.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace qvota::test;

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
    void unknownTransportAfterValidation();
    void serialDefaultsAndOpenFailure();
    void windowStartsWithoutLeadingCli_data();
    void windowStartsWithoutLeadingCli();

private:
    QTemporaryDir m_dir;
    QString m_valid; // 100-byte payload, header crc 0x0000ABCD
};

static ProcessResult cli(const QStringList &arguments, int timeoutMs = 30000)
{
    return run_process(QStringLiteral(QVOTA_APP_EXE), QStringList{"--cli"} + arguments, timeoutMs);
}

void TestCli::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_valid = write_file(m_dir, "valid.qvbit", make_container(QByteArray(100, 'x'), 0xABCD));
    QVERIFY(!m_valid.isEmpty());
}

void TestCli::requiredOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("nothing") << QStringList();
    QTest::newRow("only file") << QStringList{"--file", "/nonexistent/x.qvbit"};
    QTest::newRow("only transport") << QStringList{"--transport", "udp"};
    QTest::newRow("other options only") << QStringList{"--retries", "5", "--warm-boot"};
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
    const ProcessResult r = cli({"--help"});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    const QString text = QString::fromLocal8Bit(r.out);
    QVERIFY(text.contains(QStringLiteral("Quelvane PGL25G OTA host (CLI)")));

    // Each option once, in order, with its value name and help text.
    const QStringList expected{"--transport <t>", "uart | udp",
                               "--file <f>",      "image file",
                               "--port <p>",      "UART port",
                               "--baud <b>",      "baud",
                               "--ip <ip>",       "board IP",
                               "--udp-port <n>",  "board OTA port",
                               "--host-ip <ip>",  "local bind IP",
                               "--host-port <n>", "local bind port",
                               "--target <t>",    "warm-boot target 1|2",
                               "--warm-boot",     "issue 'b' after update",
                               "--retries <n>",   "frame retries"};
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
    QTest::newRow("unknown option") << QStringList{"--bogus"} << "Unknown option 'bogus'.";
    QTest::newRow("value missing") << QStringList{"--file"} << "Missing value after '--file'.";
    QTest::newRow("value names are not aliases")
        << QStringList{"-t", "udp", "--file", "x"} << "Unknown option 't'.";
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

    QTest::newRow("missing file") << QByteArray() << QString() << "ERROR: cannot read %1";
    QTest::newRow("folder") << QByteArray() << "."
                            << "ERROR: cannot read %1";
    QTest::newRow("plain bitstream")
        << QByteArray(4096, '\xff') << "plain.sbit"
        << "ERROR: not a .qvbit encrypted image (plain .sbit/.bin rejected)";
    QTest::newRow("empty file")
        << QByteArray() << "empty.qvbit"
        << "ERROR: not a .qvbit encrypted image (plain .sbit/.bin rejected)";
    QTest::newRow("truncated container")
        << make_container(QByteArray(99, 'x'), 100, 1) << "truncated.qvbit"
        << "ERROR: qvbit: size field mismatch (truncated or corrupt)";
    QTest::newRow("size field zero") << make_container(QByteArray(), 0, 1) << "zero.qvbit"
                                     << "ERROR: qvbit: size field mismatch (truncated or corrupt)";
    // Once, these never returned, or read gigabytes before the verdict.
    QTest::newRow("named pipe") << QByteArray() << "fifo"
                                << "ERROR: cannot read %1: not a regular file";
    QTest::newRow("device") << QByteArray() << "/dev/zero"
                            << "ERROR: cannot read %1: not a regular file";
    QTest::newRow("3 GiB, sparse")
        << QByteArray() << "huge"
        << "ERROR: cannot read %1: 3221225472 bytes, far more than an image holds (at most "
           "2097152)";
}

void TestCli::imageChecks()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, name);
    QFETCH(QString, line);

    QString path = m_dir.filePath(name.isEmpty() ? "does-not-exist.qvbit" : name);
    if (name == ".") {
        path = m_dir.path();
    } else if (name.startsWith('/')) {
        path = name;
    } else if (name == "fifo") {
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (name == "huge") {
        QFile huge(path);
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(3) << 30));
    } else if (!name.isEmpty()) {
        path = write_file(m_dir, name, content);
    }
    QVERIFY(!path.isEmpty());

    // A transport that needs no network: a bad file must be reported before any link exists.
    const ProcessResult r =
        cli({"--transport", "uart", "--port", "/dev/null-port", "--file", path});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.outLines(), QStringList{line.contains("%1") ? line.arg(path) : line});
}

void TestCli::unknownTransportAfterValidation()
{
    const ProcessResult r = cli({"--transport", "UART", "--file", m_valid});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.outLines(), (QStringList{"qvbit v2 OK: plain=100 crc32=0000ABCD (on-chip decrypt)",
                                        "ERROR: unknown transport UART"}));

    // A bad container is reported before the transport value is looked at.
    const QString bad = write_file(m_dir, "bad.qvbit", make_container("abc", 4, 0));
    const ProcessResult early = cli({"--transport", "nonsense", "--file", bad});
    QCOMPARE(early.outLines(),
             QStringList{"ERROR: qvbit: size field mismatch (truncated or corrupt)"});
}

void TestCli::serialDefaultsAndOpenFailure()
{
    // The only slow case here: a port that does not exist is retried for about ten seconds.
    QElapsedTimer timer;
    timer.start();
    const ProcessResult r = cli({"--transport", "uart", "--file", m_valid}, 60000);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.outLines(), (QStringList{"qvbit v2 OK: plain=100 crc32=0000ABCD (on-chip decrypt)",
                                        "opened COM35 @115200", "ERROR: cannot open COM35"}));
    QVERIFY2(timer.elapsed() >= 9000, qPrintable(QString::number(timer.elapsed())));
}

void TestCli::windowStartsWithoutLeadingCli_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("cli later") << QStringList{"--transport", "udp", "--cli"};
    QTest::newRow("upper case") << QStringList{"--CLI", "--help"};
    QTest::newRow("help alone") << QStringList{"--help"};
}

void TestCli::windowStartsWithoutLeadingCli()
{
    QFETCH(QStringList, arguments);
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_CONFIG_HOME", m_dir.filePath("config")); // keep the user's settings out
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
