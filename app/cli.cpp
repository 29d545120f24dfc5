#include "cli.h"

#include "imagefile.h"
#include "linksettings.h"
#include "otaflow.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QTextStream>

#include <cstdio>
#include <memory>
#include <optional>

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

// Unparsable or out-of-range port text becomes 0, which then fails to bind or to send.
quint16 to_port(const QString &text)
{
    return text.toUShort();
}

// Names the link on out and returns its settings; an unknown transport is an error.
std::optional<LinkSettings> choose_link(const QCommandLineParser &parser, const CliOptions &options,
                                        QTextStream &out)
{
    const QString transport = parser.value(options.transport);
    LinkSettings link;
    if (transport == QLatin1String("uart")) {
        link.serial = true;
        link.portName = parser.value(options.port);
        link.baudRate = parser.value(options.baud).toInt();
        out << serial_link_line(link.portName, parser.value(options.baud)) << Qt::endl;
        return link;
    }
    if (transport == QLatin1String("udp")) {
        link.boardIp = parser.value(options.ip);
        link.boardPort = to_port(parser.value(options.udpPort));
        link.hostIp = parser.value(options.hostIp);
        link.hostPort = to_port(parser.value(options.hostPort));
        out << udp_link_line(link.boardIp, parser.value(options.udpPort), link.hostIp,
                             parser.value(options.hostPort))
            << Qt::endl;
        return link;
    }
    out << "ERROR: unknown transport " << transport << Qt::endl;
    return std::nullopt;
}

int run_update(const QCommandLineParser &parser, const CliOptions &options, const Image &image,
               QTextStream &out)
{
    const std::optional<LinkSettings> settings = choose_link(parser, options, out);
    if (!settings)
        return 1;
    const std::unique_ptr<Link> link = make_link(*settings);
    QString error;
    if (!link->open(&error)) {
        out << "ERROR: " << error << Qt::endl;
        return 1;
    }
    out << "file=" << parser.value(options.file) << Qt::endl;

    OtaConfig config;
    config.target = parser.value(options.target);
    config.warmBoot = parser.isSet(options.warmBoot) || parser.isSet(options.target);
    config.retries = parser.value(options.retries).toInt();
    config.expectedCrc32 = expected_crc32(image.info);

    OtaCallbacks callbacks;
    callbacks.log = [&out](const QString &line) { out << stamped(line) << Qt::endl; };

    const QString result = run_update_flow(*link, image.bytes, config, callbacks);
    link->close();
    if (!result.isEmpty()) {
        out << "ERROR: " << result << Qt::endl;
        return 1;
    }
    return 0;
}

} // namespace

int run_cli(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Quelvane PGL25G OTA host (CLI)"));
    parser.addHelpOption();
    const CliOptions options;
    options.addTo(parser);
    parser.process(arguments);

    QTextStream out(stdout);
    if (!parser.isSet(options.transport) || !parser.isSet(options.file)) {
        out << "ERROR: --transport and --file are required" << Qt::endl;
        parser.showHelp(1);
    }

    Image image;
    if (QString error; !load_image(parser.value(options.file), &image, &error)) {
        out << "ERROR: " << error << Qt::endl;
        return 1;
    }
    out << "qvbit v2 OK: plain=" << image.info.value(QStringLiteral("size")).toLongLong()
        << " crc32=" << image.info.value(QStringLiteral("crc32")).toString() << " (on-chip decrypt)"
        << Qt::endl;

    return run_update(parser, options, image, out);
}

} // namespace qvota
