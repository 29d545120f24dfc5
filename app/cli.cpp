#include "cli.h"

#include "imagefile.h"
#include "runlines.h"
#include "settingscheck.h"
#include "updaterun.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QTextStream>

#include <cstdio>

namespace qvota {

namespace {

struct CliOptions
{
    QCommandLineOption transport{QStringLiteral("transport"), QStringLiteral("uart | udp"),
                                 QStringLiteral("t")};
    QCommandLineOption file{QStringLiteral("file"), QStringLiteral("image file"),
                            QStringLiteral("f")};
    QCommandLineOption port{QStringLiteral("port"), QStringLiteral("UART port"),
                            QStringLiteral("p"), defaults::SERIAL_PORT};
    QCommandLineOption baud{QStringLiteral("baud"), QStringLiteral("baud"), QStringLiteral("b"),
                            QString::number(defaults::BAUD)};
    QCommandLineOption ip{QStringLiteral("ip"), QStringLiteral("board IP"), QStringLiteral("ip"),
                          defaults::BOARD_IP};
    QCommandLineOption udpPort{QStringLiteral("udp-port"), QStringLiteral("board OTA port"),
                               QStringLiteral("n"), QString::number(defaults::BOARD_PORT)};
    QCommandLineOption hostIp{QStringLiteral("host-ip"), QStringLiteral("local bind IP"),
                              QStringLiteral("ip"), defaults::HOST_IP};
    QCommandLineOption hostPort{QStringLiteral("host-port"), QStringLiteral("local bind port"),
                                QStringLiteral("n"), QString::number(defaults::HOST_PORT)};
    QCommandLineOption target{QStringLiteral("target"), QStringLiteral("warm-boot target 1|2"),
                              QStringLiteral("t")};
    QCommandLineOption warmBoot{QStringLiteral("warm-boot"),
                                QStringLiteral("issue 'b' after update")};
    QCommandLineOption retries{QStringLiteral("retries"), QStringLiteral("frame retries"),
                               QStringLiteral("n"), QString::number(defaults::RETRIES)};

    void addTo(QCommandLineParser &parser) const
    {
        parser.addOptions({transport, file, port, baud, ip, udpPort, hostIp, hostPort, target,
                           warmBoot, retries});
    }
};

// The parser's help, with "--cli" in its usage line: the options mean nothing without it.
int show_help(const QCommandLineParser &parser, int exitCode)
{
    QString text = parser.helpText();
    const qsizetype lineEnd = text.indexOf(u'\n');
    const qsizetype at = text.lastIndexOf(QLatin1String(" [options]"), lineEnd);
    if (at >= 0)
        text.insert(at, QLatin1String(" --cli"));
    QTextStream(stdout) << text << Qt::flush;
    return exitCode;
}

// The run's settings as typed.
RunTexts run_texts(const QCommandLineParser &parser, const CliOptions &options)
{
    RunTexts texts;
    texts.serial = parser.value(options.transport) == QLatin1String("uart");
    SettingsFields &v = texts.values;
    v.port = parser.value(options.port);
    v.baud = parser.value(options.baud);
    v.boardIp = parser.value(options.ip);
    v.boardPort = parser.value(options.udpPort);
    v.hostIp = parser.value(options.hostIp);
    v.hostPort = parser.value(options.hostPort);
    v.target = parser.value(options.target);
    v.retries = parser.value(options.retries);
    texts.warmBoot = parser.isSet(options.warmBoot);
    texts.targetGiven = parser.isSet(options.target);
    return texts;
}

const SettingsFields OPTION_LABELS{
    QStringLiteral("--port"),      QStringLiteral("--baud"),      QStringLiteral("--ip"),
    QStringLiteral("--udp-port"),  QStringLiteral("--host-ip"),   QStringLiteral("--host-port"),
    QStringLiteral("--target"),    QStringLiteral("--retries")};

// The options read into a run request; nothing has been opened yet when this is asked.
Expected<RunRequest> read_request(const QCommandLineParser &parser, const CliOptions &options)
{
    const QString transport = parser.value(options.transport);
    if (transport != QLatin1String("uart") && transport != QLatin1String("udp"))
        return Failure::refused(QStringLiteral("unknown transport %1").arg(transport));
    return read_run_settings(run_texts(parser, options), OPTION_LABELS);
}

int fail(QTextStream &out, const QString &message)
{
    out << "ERROR: " << message << Qt::endl;
    return 1;
}

} // namespace

int run_cli(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Quelvane PGL25G OTA host (CLI)"));
    const QCommandLineOption help = parser.addHelpOption();
    const CliOptions options;
    options.addTo(parser);
    // Help is answered here so that its usage line shows how this mode is started; every other
    // outcome of parsing (errors included) is the parser's own.
    if (parser.parse(arguments) && parser.isSet(help))
        return show_help(parser, 0);
    parser.process(arguments);

    QTextStream out(stdout);
    if (!parser.isSet(options.transport) || !parser.isSet(options.file)) {
        out << "ERROR: --transport and --file are required" << Qt::endl;
        return show_help(parser, 1);
    }

    Expected<Image> image = load_image(parser.value(options.file));
    if (!image)
        return fail(out, image.message());
    out << container_line(image->info, false) << Qt::endl;

    // The container is judged first and said, whatever the options hold; then the options,
    // before anything touches a port.
    Expected<RunRequest> request = read_request(parser, options);
    if (!request)
        return fail(out, request.message());
    out << link_line(run_texts(parser, options)) << Qt::endl;

    RunRequest run = std::move(request).value();
    run.image = std::move(image).value();
    OtaCallbacks callbacks;
    callbacks.stage = [&](RunStage stage) {
        if (stage == RunStage::Identify)
            out << file_line(parser.value(options.file)) << Qt::endl;
    };
    callbacks.log = [&out](const QString &line) { out << stamped(line) << Qt::endl; };
    if (const RunResult result = run_update(run, callbacks); !result.ok())
        return fail(out, result.error());
    return 0;
}

} // namespace qvota
