// The window under load, offscreen: how soon the first frame is shown after the process starts,
// and how the window copes when a noisy board floods the log through the controller (the
// longest frame, how long a line waits to be shown, the event loop's worst lateness and the memory
// before, at the peak and after). Expects qvota-board-sim beside it.
#include "boardsim.h"
#include "otacontroller.h"
#include "testimages.h"
#include "window.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

constexpr int FLOOD_LINES = 100000;
const QUrl MAIN_URL(u"qrc:/qt/qml/QuelvaneOtaStudio/Main.qml"_s);

QString sibling(const QString &name)
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(name);
}

// Lets the window go on for a while without spinning the processor meanwhile.
void run_events_for(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Resident memory of this process in MiB, from the kernel's own account.
double rss_mib()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression rss(uR"(VmRSS:\s+(\d+) kB)"_s);
    const auto match = rss.match(QString::fromLatin1(status.readAll()));
    return match.hasMatch() ? match.captured(1).toDouble() / 1024 : -1;
}

// The child of the first-frame case: the window start-up, ended by its first frame.
int first_frame_child(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle(u"Basic"_s);
    QQmlApplicationEngine engine;
    engine.addImportPath(u"qrc:/qt/qml"_s);
    qvota::publish_window_context(engine);
    QObject::connect(&engine, &QQmlApplicationEngine::objectCreated, &app, [](QObject *root) {
        if (auto *window = qobject_cast<QQuickWindow *>(root))
            QObject::connect(window, &QQuickWindow::frameSwapped, window, [] {
                std::puts("first frame");
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
    });
    engine.load(MAIN_URL);
    return engine.rootObjects().isEmpty() ? 1 : QGuiApplication::exec();
}

void first_frame()
{
    QList<double> times;
    for (int run = 0; run < 5; ++run) {
        QProcess child;
        QElapsedTimer timer;
        timer.start();
        child.start(QCoreApplication::applicationFilePath(), {u"--first-frame-child"_s});
        child.waitForFinished(30000);
        if (!child.readAllStandardOutput().contains("first frame")) {
            std::printf("first frame: the window did not show (%s)\n",
                        child.readAllStandardError().constData());
            return;
        }
        times.append(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    std::printf("first frame after process start: median %.0f ms (best %.0f, worst %.0f, 5 runs)\n",
                times.at(2), times.first(), times.last());
}

void log_flood(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle(u"Basic"_s);
    QTemporaryDir dir;
    qvota::test::BoardSim sim(sibling(u"qvota-board-sim"_s));
    const QByteArray image = qvota::test::pack_with_sim(qvota::test::pattern_bytes(64 * 1024),
                                                        sibling(u"qvota-board-sim"_s));
    const QString imagePath = qvota::test::write_file(dir, u"image.qvbit"_s, image);
    // Over an unpaced pty nothing is dropped, so every noise line reaches the log.
    if (!sim.startPty({u"--noise-lines"_s, QString::number(FLOOD_LINES)})) {
        std::printf("log flood: the simulator did not start\n");
        return;
    }

    QQmlApplicationEngine engine;
    engine.addImportPath(u"qrc:/qt/qml"_s);
    qvota::publish_window_context(engine);
    engine.load(MAIN_URL);
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    if (!window)
        return;
    const auto set = [window](const char *name, const char *property, const QVariant &value) {
        window->findChild<QObject *>(QLatin1String(name))->setProperty(property, value);
    };
    auto *ui = engine.rootContext()->contextProperty(u"ui"_s).value<qvota::OtaController *>();

    // Settle, then measure from a quiet start.
    run_events_for(1500);
    const double before = rss_mib();

    set("transportCombo", "currentIndex", 0);
    set("portCombo", "model", QStringList{sim.ptyPath()});
    set("portCombo", "currentIndex", 0);
    set("targetCombo", "currentIndex", 0);
    set("fileField", "text", imagePath);

    int lines = 0;
    QElapsedTimer flood;
    // A line is shown by the first frame after the log's model took it in.
    qint64 oldestQueuedMs = -1;  // the oldest line that has arrived but is not yet in the model
    qint64 oldestUnshownMs = -1; // the oldest line in the model that no frame has shown yet
    qint64 worstShowMs = 0;      // the longest a line waited between arriving and being shown
    QObject::connect(ui, &qvota::OtaController::logAppended, &app, [&] {
        ++lines;
        if (oldestQueuedMs < 0)
            oldestQueuedMs = flood.elapsed();
    });
    auto *logModel =
        window->findChild<QObject *>(u"logView"_s)->property("model").value<QAbstractItemModel *>();
    QObject::connect(logModel, &QAbstractItemModel::rowsInserted, &app, [&] {
        if (oldestUnshownMs < 0)
            oldestUnshownMs = oldestQueuedMs;
        oldestQueuedMs = -1;
    });
    QElapsedTimer sinceFrame;
    qint64 firstFrameMs = -1; // from pressing Start to the first frame that shows it
    qint64 worstFrameMs = 0;  // between any two frames after that
    int frames = 0;
    bool flooding = false;
    QObject::connect(window, &QQuickWindow::frameSwapped, &app, [&] {
        if (flooding && firstFrameMs < 0) {
            firstFrameMs = sinceFrame.elapsed();
        } else if (flooding) {
            worstFrameMs = std::max(worstFrameMs, sinceFrame.elapsed());
            if (qEnvironmentVariableIsSet("QVOTA_BENCH_TRACE") && sinceFrame.elapsed() > 30)
                std::printf("  frame gap %lld ms at %lld ms, %d lines\n", sinceFrame.elapsed(),
                            flood.elapsed(), lines);
        }
        if (oldestUnshownMs >= 0) {
            if (flood.elapsed() - oldestUnshownMs > 30
                && qEnvironmentVariableIsSet("QVOTA_BENCH_TRACE"))
                std::printf("  line waited %lld ms at %lld ms\n", flood.elapsed() - oldestUnshownMs,
                            flood.elapsed());
            worstShowMs = std::max(worstShowMs, flood.elapsed() - oldestUnshownMs);
            oldestUnshownMs = -1;
        }
        sinceFrame.restart();
        ++frames;
    });
    // A 10 ms tick: how late it fires is how long a click would wait.
    QElapsedTimer sinceTick;
    qint64 worstLatenessMs = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(10);
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        if (flooding)
            worstLatenessMs = std::max(worstLatenessMs, sinceTick.elapsed() - 10);
        sinceTick.restart();
    });
    double peak = before;
    QTimer sampler;
    sampler.setInterval(100);
    QObject::connect(&sampler, &QTimer::timeout, &app, [&] { peak = std::max(peak, rss_mib()); });

    bool ok = false;
    QObject::connect(ui, &qvota::OtaController::otaFinished, &app, [&ok](bool success) {
        ok = success;
        QCoreApplication::quit();
    });
    flood.start();
    sinceFrame.start();
    sinceTick.start();
    tick.start();
    sampler.start();
    flooding = true;
    QMetaObject::invokeMethod(window, "startOta");
    QGuiApplication::exec();
    flooding = false;
    const double floodSeconds = flood.elapsed() / 1000.0;

    run_events_for(2000);
    const double end = rss_mib();
    std::printf("log flood: %d log lines (%d of them noise) and a 64 KiB update (%s) in %.1f s\n",
                lines, FLOOD_LINES, ok ? "verified" : "FAILED", floodSeconds);
    std::printf("log flood: first frame %lld ms after Start; then %d frames, the longest %lld ms "
                "apart; event loop late by at most %lld ms\n",
                firstFrameMs, frames, worstFrameMs, worstLatenessMs);
    std::printf("log flood: a line waited at most %lld ms for a frame to show it\n", worstShowMs);
    std::printf(
        "log flood memory: %.1f MiB before, %.1f MiB at the peak, %.1f MiB 2 s after (%+.1f)\n",
        before, peak, end, end - before);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setOrganizationName(u"Quelvane"_s);
    QCoreApplication::setApplicationName(u"Quelvane OTA Studio"_s);
    if (argc >= 2 && std::strcmp(argv[1], "--first-frame-child") == 0)
        return first_frame_child(argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window keeps its theme and language; these runs keep theirs away from the user's.
    const QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    {
        QCoreApplication app(argc, argv);
        first_frame();
    }
    log_flood(argc, argv);
    return 0;
}
