// The window start-up as a process: the exit code when the main window cannot be made, closing
// during an update, the theme and language kept between two starts, settings that cannot be
// read or kept, and the module's public types.
#include "boardsim.h"
#include "processrun.h"
#include "testimages.h"
#include "window.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QJsonArray>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace qvota::test;

namespace {

// This executable's window mode with another root, as a child process.
struct WindowRun
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

    void start(const QString &root, const QStringList &extra = {})
    {
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setProcessEnvironment(environment);
        process.start(QCoreApplication::applicationFilePath(),
                      QStringList{u"--run-window"_s, root} + extra);
    }
};

QObject *find_item(QObject *root, const char *name)
{
    return root->findChild<QObject *>(QLatin1String(name));
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void missingRootExitsMinusOne()
    {
        WindowRun run;
        run.start(u"qrc:/no/such/Main.qml"_s);
        QVERIFY(run.process.waitForFinished(30000));
        QCOMPARE(run.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(run.process.exitCode(), 255); // -1 as the system reports it
    }

    void closingDuringUpdateCancelsAndEnds_data()
    {
        QTest::addColumn<QString>("closeAt");
        QTest::addColumn<QStringList>("simArgs");
        // A slow board, so the transfer is still going when the window closes.
        QTest::newRow("transfer") << u"frame"_s << QStringList{u"--latency-ms"_s, u"20"_s};
        // A board that never says READY: the window closes inside the erase wait.
        QTest::newRow("erase wait") << u"erase"_s << QStringList{u"--no-erase-reply"_s};
    }

    void closingDuringUpdateCancelsAndEnds()
    {
        QFETCH(QString, closeAt);
        QFETCH(QStringList, simArgs);
        BoardSim sim;
        QVERIFY(sim.startUdp(simArgs));
        const QString image =
            write_file(m_dir, u"image.qvbit"_s, pack_with_sim(pattern_bytes(256 * 200)));
        WindowRun run;
        run.start(QUrl::fromLocalFile(QStringLiteral(QVOTA_TESTS_DIR "/app/closeduringupdate.qml"))
                      .toString(),
                  {QString::number(sim.udpPort()), image, closeAt});
        QVERIFY(run.process.waitForStarted());
        QElapsedTimer sinceClose;
        QByteArray output;
        while (!output.contains("closing at") && run.process.waitForReadyRead(30000))
            output += run.process.readAll();
        QVERIFY2(output.contains("closing at"), output.constData());
        sinceClose.start();
        // Every wait of the run notices the cancel at once: the process and its port are gone
        // long before any time-out of the protocol.
        QVERIFY(run.process.waitForFinished(int(scaled_ms(5000))));
        QCOMPARE(run.process.exitCode(), 0);
        QVERIFY2(sinceClose.elapsed() < scaled_ms(1000),
                 qPrintable(QString::number(sinceClose.elapsed())));
        qInfo("process ended %lld ms after the window closed", sinceClose.elapsed());

        const QJsonObject record = sim.stop();
        const QList<int> frames = record_ints(record, u"frames"_s);
        QVERIFY2(frames.size() < 200, qPrintable(QString::number(frames.size())));
    }

    void themeAndLanguageSurviveARestart()
    {
        QCoreApplication::setOrganizationName(u"Quelvane"_s);
        QCoreApplication::setApplicationName(u"Quelvane OTA Studio"_s);
        const auto load = [](QQmlApplicationEngine &engine) {
            engine.addImportPath(u"qrc:/qt/qml"_s);
            qvota::publish_window_context(engine);
            engine.load(QUrl(u"qrc:/qt/qml/QuelvaneOtaStudio/Main.qml"_s));
            return engine.rootObjects().value(0);
        };
        {
            QQmlApplicationEngine engine;
            QObject *root = load(engine);
            QVERIFY(root);
            QCOMPARE(root->property("currentLang").toString(), u"zh_CN"_s);
            // As the selectors do when the user picks "Light" and "日本語".
            QObject *themeCombo = find_item(root, "themeCombo");
            QObject *languageCombo = find_item(root, "languageCombo");
            QVERIFY(themeCombo && languageCombo);
            themeCombo->setProperty("currentIndex", 8);
            QMetaObject::invokeMethod(themeCombo, "activated", Q_ARG(int, 8));
            languageCombo->setProperty("currentIndex", 2);
            QMetaObject::invokeMethod(languageCombo, "activated", Q_ARG(int, 2));
            QTRY_COMPARE(root->property("currentLang").toString(), u"ja_JP"_s);
        }
        QQmlApplicationEngine engine;
        QObject *root = load(engine);
        QVERIFY(root);
        QCOMPARE(root->property("currentLang").toString(), u"ja_JP"_s);
        QCOMPARE(root->property("color").value<QColor>(), QColor(u"#e9edf2"_s));
        QCOMPARE(find_item(root, "themeCombo")->property("displayText").toString(), u"ライト"_s);
        QCOMPARE(find_item(root, "languageCombo")->property("displayText").toString(), u"日本語"_s);
    }

    void settingsThatCannotBeKept_data()
    {
        QTest::addColumn<QString>("store"); // what stands where the settings file would be
        QTest::addColumn<QString>("said");  // the one line about it on stderr

        // A FIFO must not hold the window; what it would save goes elsewhere, without a word.
        QTest::newRow("FIFO") << u"fifo"_s << u"is not a readable file"_s;
        // A folder that cannot be made: said once, however many changes are lost.
        QTest::newRow("no folder") << u"under a file"_s << u"cannot be written"_s;
        QTest::newRow("read-only file") << u"read-only"_s << u"cannot be written"_s;
    }

    void settingsThatCannotBeKept()
    {
        QFETCH(QString, store);
        QFETCH(QString, said);
        // A settings store of its own, away from this process's own windows.
        const QTemporaryDir configHome;
        QString home = configHome.path();
        const QString file = configHome.filePath(u"Quelvane/Quelvane OTA Studio.conf"_s);
        if (store == u"under a file"_s) {
            home = write_file(configHome, u"file"_s, {}) + u"/config"_s;
        } else {
            QVERIFY(QDir(home).mkpath(u"Quelvane"_s));
            if (store == u"fifo"_s) {
                QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
            } else {
                if (::geteuid() == 0)
                    QSKIP("root writes a read-only file all the same");
                QVERIFY(QFile(file).open(QIODevice::WriteOnly));
                QVERIFY(QFile::setPermissions(file, QFile::ReadOwner));
            }
        }
        WindowRun run;
        run.environment.insert(u"XDG_CONFIG_HOME"_s, home);
        // Three changes of each, as the header's selectors make them.
        run.start(QUrl::fromLocalFile(
                      write_file(m_dir, u"store.qml"_s,
                                 "import QtQuick\nimport QuelvaneOtaStudio\n"
                                 "Main { Timer { running: true; onTriggered: {\n"
                                 "  console.info('up in ' + currentLang + '/' + Theme.themeId);\n"
                                 "  for (const [theme, lang] of\n"
                                 "       [['light', 'en'], ['abyss', 'zh_CN'], ['light', 'ja_JP']]) {\n"
                                 "    _applyTheme(theme); _applyLanguage(lang); }\n"
                                 "  console.info('now in ' + currentLang + '/' + Theme.themeId);\n"
                                 "  Qt.quit(); } } }\n"))
                      .toString());
        QVERIFY2(run.process.waitForFinished(20000), "the window never came up");
        const QString output = QString::fromUtf8(run.process.readAll());
        QCOMPARE(run.process.exitCode(), 0);
        QVERIFY2(output.contains(u"up in zh_CN/abyss"_s), qPrintable(output));
        QVERIFY2(output.contains(u"now in ja_JP/light"_s), qPrintable(output));
        QCOMPARE(output.count(said), 1);
        QCOMPARE(output.count(u"settings: "_s), 1);
    }

    // Only the thirteen types are the module's; the window's parts are not types of it.
    void moduleTypesAreThePublicOnes()
    {
        QFile qmldir(u":/qt/qml/QuelvaneOtaStudio/qmldir"_s);
        QVERIFY(qmldir.open(QIODevice::ReadOnly | QIODevice::Text));
        QStringList types;
        for (const QString &line : QString::fromUtf8(qmldir.readAll()).split(u'\n')) {
            const QStringList words = line.split(u' ', Qt::SkipEmptyParts);
            if (!words.isEmpty() && (words[0].front().isUpper() || words[0] == u"singleton"_s
                                     || words[0] == u"internal"_s))
                types.append(words.join(u' '));
        }
        QCOMPARE(types, (QStringList{
            u"Main 1.0 Main.qml"_s, u"ExtraOptionsDist 1.0 ExtraOptions.qml"_s,
            u"singleton Theme 1.0 Theme.qml"_s, u"ThemedButton 1.0 ThemedButton.qml"_s,
            u"ThemedCombo 1.0 ThemedCombo.qml"_s, u"ThemedDialog 1.0 ThemedDialog.qml"_s,
            u"ThemedSlider 1.0 ThemedSlider.qml"_s, u"ThemedSpinBox 1.0 ThemedSpinBox.qml"_s,
            u"ThemedSwitch 1.0 ThemedSwitch.qml"_s, u"ThemedTextField 1.0 ThemedTextField.qml"_s,
            u"Card 1.0 Card.qml"_s, u"FilePickerDialog 1.0 FilePickerDialog.qml"_s,
            u"NavButton 1.0 NavButton.qml"_s}));

        QQmlEngine engine;
        engine.addImportPath(u"qrc:/qt/qml"_s);
        QQmlComponent part(&engine);
        part.setData("import QuelvaneOtaStudio\nHeaderBar {}\n", QUrl(u"file:///outside.qml"_s));
        QVERIFY2(part.isError(), "a part of the window is a type of the module");
        QVERIFY2(part.errorString().contains(u"HeaderBar is not a type"_s),
                 qPrintable(part.errorString()));
    }

private:
    QTemporaryDir m_dir;
};

int main(int argc, char *argv[])
{
    if (argc >= 3 && std::strcmp(argv[1], "--run-window") == 0)
        return qvota::run_window(argc, argv, QUrl(QString::fromLocal8Bit(argv[2])));
    // The persisted theme and language of these runs stay away from the user's.
    const QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
