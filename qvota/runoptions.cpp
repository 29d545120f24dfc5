#include "runoptions.h"

#include "history.h"
#include "settingscheck.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace qvota::cli {

namespace {

QString usage_line(RunMode mode)
{
    return mode == RunMode::Flash
        ? QStringLiteral("Usage: qvota flash IMAGE --board SPEC [--board SPEC ...] [options]\n")
        : QStringLiteral("Usage: qvota station IMAGE --board SPEC [--board SPEC ...] [options]\n");
}

QString description(RunMode mode)
{
    return mode == RunMode::Flash
        ? QStringLiteral(
              "Updates every board at the same time, each on its own thread; one board's failure\n"
              "never stops the others. Exit code 0 when every board is verified, 1 when one\n"
              "failed, 2 for a usage error, 3 when the image is refused, 130 when interrupted.")
        : QStringLiteral(
              "Unattended: for each board slot on its own, waits until a board answers there\n"
              "(a JEDEC line in reply to 'j', asked once a second), updates it, then waits until\n"
              "it has gone (port removed, or no answer for 3 s) before waiting for the next, so\n"
              "a board is never updated twice in a row. Runs until --count updates have finished\n"
              "or until Ctrl-C. History is on by default, in\n"
              "$XDG_STATE_HOME/quelvane/qvota-history.jsonl (~/.local/state when unset).");
}

} // namespace

Expected<ParsedRun> parse_run_options(RunMode mode, const QStringList &arguments)
{
    ParsedRun parsed;
    RunOptions &options = parsed.options;
    const bool station = mode == RunMode::Station;

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(description(mode));
    const QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help.")};
    const QCommandLineOption board{
        QStringLiteral("board"),
        QStringLiteral("A board: udp:ADDRESS[:PORT][,bind=ADDRESS[:PORT]] (port %1 by default, "
                       "IPv6 in brackets, without bind= the system chooses the local address "
                       "and port), uart:DEVICE[@BAUD] (%2 by default) or "
                       "uart:serial=NUMBER[@BAUD] (the port with that USB serial number). "
                       "Repeat for more boards.")
            .arg(QString::number(defaults::BOARD_PORT), QString::number(defaults::BAUD)),
        QStringLiteral("SPEC")};
    const QCommandLineOption boards{
        QStringLiteral("boards"),
        QStringLiteral("Reads boards from FILE, one SPEC per line; '#' starts a comment."),
        QStringLiteral("FILE")};
    const QCommandLineOption target{
        QStringLiteral("target"),
        QStringLiteral("Warm-boots into APP1 or APP2 after the update (implies --warm-boot)."),
        QStringLiteral("1|2")};
    const QCommandLineOption warmBoot{QStringLiteral("warm-boot"),
                                      QStringLiteral("Sends 'b' after a verified update.")};
    const QCommandLineOption retries{QStringLiteral("retries"),
                                     QStringLiteral("Tries per frame (default %1).")
                                         .arg(defaults::RETRIES),
                                     QStringLiteral("N"), QString::number(defaults::RETRIES)};
    const QCommandLineOption json{
        QStringLiteral("json"),
        QStringLiteral("Writes JSON Lines on stdout (schema: docs/qvota-json.md), nothing else.")};
    const QCommandLineOption history{
        QStringLiteral("history"),
        QStringLiteral("Appends one JSON line per finished board to FILE."),
        QStringLiteral("FILE")};
    const QCommandLineOption quiet{QStringLiteral("quiet"),
                                   QStringLiteral("Prints only the summary (not with --json).")};
    const QCommandLineOption count{
        QStringLiteral("count"),
        QStringLiteral("Ends after N finished updates in all (default: runs until stopped)."),
        QStringLiteral("N")};
    const QCommandLineOption noHistory{QStringLiteral("no-history"),
                                       QStringLiteral("Keeps no history.")};
    const QCommandLineOption http{
        QStringLiteral("http"),
        QStringLiteral("Serves a live page of the slots at /, the same as JSON at /api/status and "
                       "Prometheus metrics at /metrics, read-only, on ADDRESS:PORT (IPv6 in "
                       "brackets; 0.0.0.0 for every interface; port 0 lets the system choose, and "
                       "the address is printed). Off unless given."),
        QStringLiteral("ADDRESS:PORT")};
    parser.addOptions({help, board, boards, target, warmBoot, retries, json, history, quiet});
    if (station)
        parser.addOptions({count, noHistory, http});
    parser.addPositionalArgument(QStringLiteral("IMAGE"),
                                 QStringLiteral("The .qvbit image container to write."));

    const auto refuse = [](const QString &message) { return Failure::refused(message); };
    if (!parser.parse(QStringList{QStringLiteral("qvota")} + arguments))
        return refuse(parser.errorText());
    if (parser.isSet(help)) {
        parsed.help = usage_line(mode) + parser.helpText().section(QLatin1Char('\n'), 1);
        return parsed;
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return refuse(positional.isEmpty() ? QStringLiteral("no IMAGE given")
                                           : QStringLiteral("one IMAGE only, got %1")
                                                 .arg(positional.join(QStringLiteral(", "))));
    options.imagePath = positional.first();

    for (const QString &text : parser.values(board)) {
        const Expected<BoardSpec> spec = parse_board_spec(text);
        if (!spec)
            return spec.failure();
        options.boards.append(*spec);
    }
    for (const QString &path : parser.values(boards)) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return refuse(QStringLiteral("cannot read boards file %1").arg(path));
        const Expected<QList<BoardSpec>> listed = parse_boards_file(QString::fromUtf8(file.readAll()));
        if (!listed)
            return refuse(QStringLiteral("boards file %1: %2").arg(path, listed.message()));
        options.boards.append(*listed);
    }
    if (options.boards.isEmpty())
        return refuse(QStringLiteral("no board given (--board SPEC or --boards FILE)"));
    // Two specs for one board would update it twice at once; the ports are listed only when a
    // serial board needs them.
    const bool anySerial = std::any_of(options.boards.cbegin(), options.boards.cend(),
                                       [](const BoardSpec &spec) { return spec.serial; });
    if (const QString problem =
            shared_board_problem(options.boards, anySerial ? available_ports() : QList<PortInfo>());
        !problem.isEmpty())
        return refuse(problem);

    // The same rules and words as the single-board command line; the links are checked above,
    // as board specs.
    RunTexts texts;
    texts.values.target = parser.value(target);
    texts.values.retries = parser.value(retries);
    texts.warmBoot = parser.isSet(warmBoot);
    texts.targetGiven = parser.isSet(target);
    SettingsFields labels;
    labels.target = QStringLiteral("--target");
    labels.retries = QStringLiteral("--retries");
    const Expected<RunRequest> request = read_run_settings(texts, labels);
    if (!request)
        return request.failure();
    options.flow = request->flow;

    // JSON Lines are for a program, which reads what it needs; quiet output is for a person.
    if (parser.isSet(json) && parser.isSet(quiet))
        return refuse(QStringLiteral("--json and --quiet exclude each other"));
    options.output.json = parser.isSet(json);
    options.output.quiet = parser.isSet(quiet);
    for (const BoardSpec &spec : std::as_const(options.boards))
        options.output.boards << spec.label;
    options.historyPath = parser.value(history);
    if (station) {
        if (parser.isSet(count)) {
            if (!whole_number_in(parser.value(count), 1, 1000000))
                return refuse(QStringLiteral("--count must be a positive number, got '%1'")
                                  .arg(parser.value(count)));
            options.count = parser.value(count).toInt();
        }
        if (parser.isSet(noHistory) && parser.isSet(history))
            return refuse(QStringLiteral("--history and --no-history exclude each other"));
        if (options.historyPath.isEmpty() && !parser.isSet(noHistory))
            options.historyPath = default_history_path();
        if (parser.isSet(http)) {
            Expected<HttpEndpoint> endpoint = read_http_endpoint(parser.value(http));
            if (!endpoint)
                return refuse(QStringLiteral("--http %1: %2")
                                  .arg(parser.value(http), endpoint.message()));
            options.http = std::move(endpoint).value();
        }
    }
    return parsed;
}

} // namespace qvota::cli
