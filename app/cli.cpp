#include "cli.h"

#include "imagefile.h"
#include "linksettings.h"
#include "otaflow.h"
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
                            QStringLiteral("p"), QStringLiteral("COM35")};
    QCommandLineOption baud{QStringLiteral("baud"), QStringLiteral("baud"), QStringLiteral("b"),
                            QStringLiteral("115200")};
    QCommandLineOption ip{QStringLiteral("ip"), QStringLiteral("board IP"), QStringLiteral("ip"),
                          QStringLiteral("192.168.0.100")};
    QCommandLineOption udpPort{QStringLiteral("udp-port"), QStringLiteral("board OTA port"),
                               QStringLiteral("n"), QStringLiteral("7777")};
    QCommandLineOption hostIp{QStringLiteral("host-ip"), QStringLiteral("local bind IP"),
                              QStringLiteral("ip"), QStringLiteral("192.168.0.3")};
    QCommandLineOption hostPort{QStringLiteral("host-port"), QStringLiteral("local bind port"),
                                QStringLiteral("n"), QStringLiteral("6666")};
    QCommandLineOption target{QStringLiteral("target"), QStringLiteral("warm-boot target 1|2"),
                              QStringLiteral("t")};
    QCommandLineOption warmBoot{QStringLiteral("warm-boot"),
                                QStringLiteral("issue 'b' after update")};
    QCommandLineOption retries{QStringLiteral("retries"), QStringLiteral("frame retries"),
                               QStringLiteral("n"), QStringLiteral("3")};

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

// The run's settings as typed, for the checks.
SettingsFields settings_texts(const QCommandLineParser &parser, const CliOptions &options)
{
    SettingsFields texts;
    texts.port = parser.value(options.port);
    texts.baud = parser.value(options.baud);
    texts.boardIp = parser.value(options.ip);
    texts.boardPort = parser.value(options.udpPort);
    texts.hostIp = parser.value(options.hostIp);
    texts.hostPort = parser.value(options.hostPort);
    texts.target = parser.value(options.target);
    texts.retries = parser.value(options.retries);
    return texts;
}

const SettingsFields OPTION_LABELS{
    QStringLiteral("--port"),      QStringLiteral("--baud"),      QStringLiteral("--ip"),
    QStringLiteral("--udp-port"),  QStringLiteral("--host-ip"),   QStringLiteral("--host-port"),
    QStringLiteral("--target"),    QStringLiteral("--retries")};

// Why the options cannot make a run, or empty; nothing has been opened yet when this is asked.
QString options_problem(const QCommandLineParser &parser, const CliOptions &options)
{
    const QString transport = parser.value(options.transport);
    if (transport != QLatin1String("uart") && transport != QLatin1String("udp"))
        return QStringLiteral("unknown transport %1").arg(transport);
    return settings_problem(transport == QLatin1String("uart"), settings_texts(parser, options),
                            OPTION_LABELS);
}

// The checked options as link settings, named on out before the link is opened.
LinkSettings choose_link(const QCommandLineParser &parser, const CliOptions &options,
                         QTextStream &out)
{
    LinkSettings link;
    link.serial = parser.value(options.transport) == QLatin1String("uart");
    if (link.serial) {
        link.portName = parser.value(options.port);
        link.baudRate = parser.value(options.baud).toInt();
        out << serial_link_line(link.portName, parser.value(options.baud)) << Qt::endl;
    } else {
        link.boardIp = parser.value(options.ip);
        link.boardPort = parser.value(options.udpPort).toUShort();
        link.hostIp = parser.value(options.hostIp);
        link.hostPort = parser.value(options.hostPort).toUShort();
        out << udp_link_line(link.boardIp, parser.value(options.udpPort), link.hostIp,
                             parser.value(options.hostPort))
            << Qt::endl;
    }
    return link;
}

int run_update(const QCommandLineParser &parser, const CliOptions &options, const Image &image,
               QTextStream &out)
{
    const LinkSettings link = choose_link(parser, options, out);

    OtaConfig config;
    config.target = parser.value(options.target);
    config.warmBoot = parser.isSet(options.warmBoot) || parser.isSet(options.target);
    config.retries = parser.value(options.retries).toInt();

    RunEvents events;
    events.linkOpened = [&] { out << "file=" << parser.value(options.file) << Qt::endl; };
    events.log = [&out](const QString &line) { out << stamped(line) << Qt::endl; };

    const RunResult result = qvota::run_update(link, config, image, events, nullptr);
    if (!result.ok()) {
        out << "ERROR: " << result.error << Qt::endl;
        return 1;
    }
    return 0;
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

    Image image;
    if (QString error; !load_image(parser.value(options.file), &image, &error)) {
        out << "ERROR: " << error << Qt::endl;
        return 1;
    }
    out << "qvbit v2 OK: plain=" << image.info.value(QStringLiteral("size")).toLongLong()
        << " crc32=" << image.info.value(QStringLiteral("crc32")).toString() << " (on-chip decrypt)"
        << Qt::endl;

    // The container is judged first and said, whatever the options hold; then the options,
    // before anything touches a port.
    if (const QString problem = options_problem(parser, options); !problem.isEmpty()) {
        out << "ERROR: " << problem << Qt::endl;
        return 1;
    }
    return run_update(parser, options, image, out);
}

} // namespace qvota
