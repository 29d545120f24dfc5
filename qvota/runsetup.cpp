#include "runsetup.h"

#include "exitcodes.h"
#include "interrupt.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include <chrono>
#include <cstdio>
#include <thread>
#include <variant>
#include <vector>

namespace qvota::cli {

namespace {

constexpr auto SUPERVISE_INTERVAL = std::chrono::milliseconds(100);

void print(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString command_name(RunMode mode)
{
    return mode == RunMode::Flash ? QStringLiteral("flash") : QStringLiteral("station");
}

// The run ready to start, or the exit code that ends the command before any board is touched.
std::variant<std::unique_ptr<PreparedRun>, int> prepare_run(RunMode mode,
                                                            const QStringList &arguments)
{
    const QString command = command_name(mode);
    const Expected<ParsedRun> parsed = parse_run_options(mode, arguments);
    if (!parsed)
        return usage_error(command, parsed.message());
    if (!parsed->help.isEmpty()) {
        print(stdout, parsed->help);
        return EXIT_ALL_VERIFIED;
    }

    auto run = std::make_unique<PreparedRun>();
    run->options = parsed->options;
    const RunOptions &options = run->options;
    Expected<Image> image = load_image(options.imagePath);
    // The same size check the flow makes after it has opened the link; here it refuses the
    // image before any board is touched.
    const QString problem = image ? image_size_problem(image->bytes.size()) : image.message();
    if (!problem.isEmpty()) {
        print(stderr, QStringLiteral("qvota %1: image refused: %2\n").arg(command, problem));
        return EXIT_IMAGE_REFUSED;
    }
    if (!options.historyPath.isEmpty()) {
        Expected<std::unique_ptr<HistoryFile>> history = HistoryFile::open(options.historyPath);
        if (!history)
            return usage_error(command, history.message());
        run->history = std::move(history).value();
    }
    OutputOptions output = options.output;
    output.imageBytes = image->bytes.size();
    run->reporter = make_reporter(output);

    UpdatePlan &plan = run->plan;
    plan.request.flow = options.flow;
    plan.request.image = std::move(image).value();
    plan.facts.path = QFileInfo(options.imagePath).absoluteFilePath();
    plan.facts.sha256 = QString::fromLatin1(
        QCryptographicHash::hash(plan.request.image.bytes, QCryptographicHash::Sha256).toHex());
    plan.reporter = run->reporter.get();
    plan.history = run->history.get();
    plan.tally = &run->tally;
    return run;
}

} // namespace

int usage_error(const QString &command, const QString &message)
{
    print(stderr, QStringLiteral("qvota %1: %2\nTry 'qvota %1 --help'.\n").arg(command, message));
    return EXIT_USAGE;
}

int run_boards(RunMode mode, const QStringList &arguments,
               const std::function<BoardWork(PreparedRun &run)> &work)
{
    auto prepared = prepare_run(mode, arguments);
    if (const int *exitCode = std::get_if<int>(&prepared))
        return *exitCode;
    PreparedRun &run = *std::get<std::unique_ptr<PreparedRun>>(prepared);
    install_interrupt_handlers();
    const BoardWork board = work(run);
    if (board.refusal != 0)
        return board.refusal;
    Reporter &reporter = *run.plan.reporter;

    // QThreads rather than bare system threads: the links' sockets want a thread that Qt knows,
    // or they warn on every open.
    std::atomic_int running{int(run.options.boards.size())};
    std::vector<std::unique_ptr<QThread>> threads;
    for (const BoardSpec &spec : std::as_const(run.options.boards)) {
        threads.emplace_back(QThread::create([&board, &running, &spec] {
            board.serve(spec);
            --running;
        }));
        threads.back()->start();
    }
    // The main thread redraws the live lines and keeps the command's own watch.
    while (running.load() > 0) {
        std::this_thread::sleep_for(SUPERVISE_INTERVAL);
        reporter.refresh();
        if (board.tick)
            board.tick();
    }
    for (const std::unique_ptr<QThread> &thread : threads)
        thread->wait();

    const Tally tally = run.tally.value();
    const int exitCode = tally.exitCode(interrupted());
    reporter.summary(tally, exitCode);
    return exitCode;
}

} // namespace qvota::cli
