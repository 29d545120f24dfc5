#include "runsetup.h"

#include "exitcodes.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include <chrono>
#include <cstdio>
#include <thread>

namespace qvota::cli {

namespace {

constexpr auto SUPERVISE_INTERVAL = std::chrono::milliseconds(100);

void print(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

int usage_error(const QString &command, const QString &message)
{
    print(stderr, QStringLiteral("qvota %1: %2\nTry 'qvota %1 --help'.\n").arg(command, message));
    return EXIT_USAGE;
}

std::unique_ptr<PreparedRun> prepare_run(RunMode mode, const QStringList &arguments,
                                         RunOptions *options, int *exitCode)
{
    const QString command =
        mode == RunMode::Flash ? QStringLiteral("flash") : QStringLiteral("station");
    const ParsedRun parsed = parse_run_options(mode, arguments);
    if (parsed.help) {
        print(stdout, parsed.text);
        *exitCode = EXIT_ALL_VERIFIED;
        return nullptr;
    }
    if (!parsed.text.isEmpty()) {
        *exitCode = usage_error(command, parsed.text);
        return nullptr;
    }
    *options = parsed.options;

    auto run = std::make_unique<PreparedRun>();
    QString error;
    if (!load_image(options->imagePath, &run->image, &error)) {
        print(stderr, QStringLiteral("qvota %1: image refused: %2\n").arg(command, error));
        *exitCode = EXIT_IMAGE_REFUSED;
        return nullptr;
    }
    // The same check the flow makes after it has opened the link; here it refuses the image
    // before any board is touched.
    if (const QString problem = image_size_problem(run->image.bytes.size()); !problem.isEmpty()) {
        print(stderr, QStringLiteral("qvota %1: image refused: %2\n").arg(command, problem));
        *exitCode = EXIT_IMAGE_REFUSED;
        return nullptr;
    }
    if (!options->historyPath.isEmpty()) {
        run->history = HistoryFile::open(options->historyPath, &error);
        if (!run->history) {
            *exitCode = usage_error(command, error);
            return nullptr;
        }
    }
    run->reporter = make_reporter(options->output);
    run->plan.image = &run->image;
    run->plan.facts.path = QFileInfo(options->imagePath).absoluteFilePath();
    run->plan.facts.sha256 = QString::fromLatin1(
        QCryptographicHash::hash(run->image.bytes, QCryptographicHash::Sha256).toHex());
    run->plan.flow = options->flow;
    run->plan.reporter = run->reporter.get();
    run->plan.history = run->history.get();
    return run;
}

std::unique_ptr<QThread> start_thread(std::function<void()> work)
{
    std::unique_ptr<QThread> thread(QThread::create(std::move(work)));
    thread->start();
    return thread;
}

void supervise(const std::atomic_int &running, Reporter &reporter,
               const std::function<void()> &tick)
{
    while (running.load() > 0) {
        std::this_thread::sleep_for(SUPERVISE_INTERVAL);
        reporter.refresh();
        if (tick)
            tick();
    }
}

} // namespace qvota::cli
