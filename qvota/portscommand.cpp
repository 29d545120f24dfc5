// qvota ports: what an operator needs to write SPECs: serial ports with their USB ids and serial
// numbers, and the host's addresses with their interfaces.
#include "commands.h"

#include "boardspec.h"
#include "exitcodes.h"
#include "jsonline.h"
#include "runsetup.h"

#include <QCommandLineParser>
#include <QNetworkInterface>

#include <cstdio>

namespace qvota::cli {

namespace {

void write(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

} // namespace

int run_ports(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Lists the serial ports with their USB vendor and product id, serial number and\n"
        "description, and the host's addresses with their interface names."));
    const QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help.")};
    const QCommandLineOption json{QStringLiteral("json"),
                                  QStringLiteral("Writes one JSON line per port and address.")};
    parser.addOptions({help, json});
    if (!parser.parse(QStringList{QStringLiteral("qvota")} + arguments))
        return usage_error(QStringLiteral("ports"), parser.errorText());
    if (parser.isSet(help)) {
        write((QStringLiteral("Usage: qvota ports [--json]\n")
               + parser.helpText().section(QLatin1Char('\n'), 1))
                  .toLocal8Bit());
        return EXIT_ALL_VERIFIED;
    }
    if (!parser.positionalArguments().isEmpty())
        return usage_error(QStringLiteral("ports"), QStringLiteral("takes no arguments"));
    const bool asJson = parser.isSet(json);

    const QList<PortInfo> ports = available_ports();
    if (!asJson)
        write(ports.isEmpty() ? QByteArray("Serial ports: none\n") : QByteArray("Serial ports:\n"));
    for (const PortInfo &port : ports) {
        if (!asJson) {
            write("  " + describe_port(port).toLocal8Bit() + '\n');
            continue;
        }
        QJsonObject object = event_object(QStringLiteral("port"));
        object.insert(QStringLiteral("port"), port.location);
        if (port.vendorId)
            object.insert(QStringLiteral("vendorId"), hex4(*port.vendorId));
        if (port.productId)
            object.insert(QStringLiteral("productId"), hex4(*port.productId));
        object.insert(QStringLiteral("serialNumber"), port.serialNumber);
        object.insert(QStringLiteral("description"), port.description);
        write(json_line(object));
    }

    if (!asJson)
        write("Host addresses:\n");
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
            const QString address = entry.ip().toString();
            if (!asJson) {
                write(QStringLiteral("  %1  %2\n").arg(iface.name(), address).toLocal8Bit());
                continue;
            }
            QJsonObject object = event_object(QStringLiteral("address"));
            object.insert(QStringLiteral("interface"), iface.name());
            object.insert(QStringLiteral("address"), address);
            object.insert(QStringLiteral("up"), iface.flags().testFlag(QNetworkInterface::IsUp));
            write(json_line(object));
        }
    }
    std::fflush(stdout);
    return EXIT_ALL_VERIFIED;
}

} // namespace qvota::cli
