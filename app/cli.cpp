#include "cli.h"

#include "container.h"
#include "imagefile.h"
#include "otaflow.h"
#include "seriallink.h"
#include "udplink.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QTextStream>
#include <QTime>

#include <cstdio>
#include <memory>

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

std::unique_ptr<Link> make_link(const QCommandLineParser &parser, const CliOptions &options,
                                QTextStream &out)
{
    const QString transport = parser.value(options.transport);
    if (transport == QLatin1String("uart")) {
        const QString port = parser.value(options.port);
        const QString baud = parser.value(options.baud);
        // Written before the port opens, so a port that never opens is still named.
        out << "opened " << port << " @" << baud << Qt::endl;
        return std::make_unique<SerialLink>(port, baud.toInt());
    }
    if (transport == QLatin1String("udp")) {
        const QString ip = parser.value(options.ip);
        const QString udpPort = parser.value(options.udpPort);
        const QString hostIp = parser.value(options.hostIp);
        const QString hostPort = parser.value(options.hostPort);
        out << "udp " << ip << ':' << udpPort << " <- " << hostIp << ':' << hostPort << Qt::endl;
        return std::make_unique<UdpLink>(ip, to_port(udpPort), hostIp, to_port(hostPort));
    }
    out << "ERROR: unknown transport " << transport << Qt::endl;
    return nullptr;
}

int run_update(const QCommandLineParser &parser, const CliOptions &options, const QByteArray &image,
               const QVariantMap &info, QTextStream &out)
{
    const std::unique_ptr<Link> link = make_link(parser, options, out);
    if (!link)
        return 1;

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
    config.expectedCrc32 = info.value(QStringLiteral("crc32")).toString().toUInt(nullptr, 16);

    OtaCallbacks callbacks;
    callbacks.log = [&out](const QString &line) {
        out << QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) << ' ' << line
            << Qt::endl;
    };

    const QString result = run_update_flow(*link, image, config, callbacks);
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

    const QString path = parser.value(options.file);
    QByteArray image;
    QString readError;
    if (!read_image_file(path, &image, &readError)) {
        out << "ERROR: " << readError << Qt::endl;
        return 1;
    }

    if (!is_container(image)) {
        out << "ERROR: not a .qvbit encrypted image (plain .sbit/.bin rejected)" << Qt::endl;
        return 1;
    }
    QVariantMap info;
    QString error;
    if (!parse_container(image, &info, &error)) {
        out << "ERROR: qvbit: " << error << Qt::endl;
        return 1;
    }
    out << "qvbit v2 OK: plain=" << info.value(QStringLiteral("size")).toLongLong()
        << " crc32=" << info.value(QStringLiteral("crc32")).toString() << " (on-chip decrypt)"
        << Qt::endl;

    return run_update(parser, options, image, info, out);
}

} // namespace qvota
