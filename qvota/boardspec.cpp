#include "boardspec.h"

#include <QHostAddress>
#include <QSerialPortInfo>

namespace qvota::cli {

namespace {

const QString KINDS =
    QStringLiteral("udp:ADDRESS[:PORT][,bind=ADDRESS[:PORT]], uart:DEVICE[@BAUD] or "
                   "uart:serial=NUMBER[@BAUD]");

std::optional<BoardSpec> refuse(const QString &text, const QString &why, QString *error)
{
    if (error)
        *error = QStringLiteral("board '%1': %2").arg(text, why);
    return std::nullopt;
}

// A decimal port in [lowest, 65535].
std::optional<quint16> read_port(const QString &text, int lowest)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!ok || port < lowest || port > 65535 || text.startsWith(QLatin1Char('+')))
        return std::nullopt;
    return quint16(port);
}

struct Endpoint
{
    QString address;
    std::optional<quint16> port;
    QAbstractSocket::NetworkLayerProtocol family = QAbstractSocket::UnknownNetworkLayerProtocol;
};

// ADDRESS[:PORT] with an IPv6 address in brackets. Only literal addresses: a name would need a
// resolver on a rack that may have none, and an address that changes under a running line.
std::optional<Endpoint> read_endpoint(const QString &text, int lowestPort, QString *why)
{
    Endpoint endpoint;
    QString portText;
    bool hasPort = false;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0) {
            *why = QStringLiteral("'[' without ']'");
            return std::nullopt;
        }
        endpoint.address = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':'))) {
                *why = QStringLiteral("expected ':PORT' after ']'");
                return std::nullopt;
            }
            hasPort = true;
            portText = rest.mid(1);
        }
    } else {
        const qsizetype colons = text.count(QLatin1Char(':'));
        if (colons > 1) {
            *why = QHostAddress(text).protocol() == QAbstractSocket::IPv6Protocol
                ? QStringLiteral("an IPv6 address goes in brackets, as in [%1]").arg(text)
                : QStringLiteral("'%1' is not ADDRESS[:PORT]").arg(text);
            return std::nullopt;
        }
        endpoint.address = text.section(QLatin1Char(':'), 0, 0);
        if (colons == 1) {
            hasPort = true;
            portText = text.section(QLatin1Char(':'), 1);
        }
    }
    const QHostAddress address(endpoint.address);
    const bool bracketed = text.startsWith(QLatin1Char('['));
    if (address.isNull()
        || (bracketed != (address.protocol() == QAbstractSocket::IPv6Protocol))) {
        *why = QStringLiteral("'%1' is not an IP%2 address")
                   .arg(endpoint.address, bracketed ? QStringLiteral("v6") : QStringLiteral("v4"));
        return std::nullopt;
    }
    endpoint.family = address.protocol();
    if (hasPort) {
        endpoint.port = read_port(portText, lowestPort);
        if (!endpoint.port) {
            *why = QStringLiteral("port '%1' is not a number from %2 to 65535")
                       .arg(portText, QString::number(lowestPort));
            return std::nullopt;
        }
    }
    return endpoint;
}

std::optional<BoardSpec> read_udp(const QString &text, BoardSpec spec, QString *error)
{
    const QStringList parts = text.mid(4).split(QLatin1Char(','));
    QString why;
    const std::optional<Endpoint> board = read_endpoint(parts.first(), 1, &why);
    if (!board)
        return refuse(text, why, error);
    spec.address = board->address;
    spec.port = board->port.value_or(DEFAULT_BOARD_PORT);
    for (const QString &option : parts.mid(1)) {
        if (!option.startsWith(QLatin1String("bind=")))
            return refuse(text, QStringLiteral("unknown option '%1' (only bind=)").arg(option),
                          error);
        if (!spec.bindAddress.isEmpty())
            return refuse(text, QStringLiteral("bind= given twice"), error);
        const std::optional<Endpoint> local = read_endpoint(option.mid(5), 0, &why);
        if (!local)
            return refuse(text, why, error);
        if (local->family != board->family)
            return refuse(text, QStringLiteral("the bind address is not of the board's family"),
                          error);
        spec.bindAddress = local->address;
        spec.bindPort = local->port.value_or(0);
    }
    return spec;
}

std::optional<BoardSpec> read_uart(const QString &text, BoardSpec spec, QString *error)
{
    QString body = text.mid(5);
    const qsizetype at = body.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        const QString baudText = body.mid(at + 1);
        bool ok = false;
        spec.baud = baudText.toInt(&ok);
        if (!ok || spec.baud <= 0 || baudText.startsWith(QLatin1Char('+')))
            return refuse(text, QStringLiteral("baud '%1' is not a positive number").arg(baudText),
                          error);
        body.truncate(at);
    }
    spec.serial = true;
    if (body.startsWith(QLatin1String("serial="))) {
        spec.serialNumber = body.mid(7);
        if (spec.serialNumber.isEmpty())
            return refuse(text, QStringLiteral("serial= needs a USB serial number"), error);
        return spec;
    }
    if (body.isEmpty())
        return refuse(text, QStringLiteral("no device"), error);
    spec.device = body;
    return spec;
}

} // namespace

QString hex4(quint16 id)
{
    return QString::number(id, 16).rightJustified(4, QLatin1Char('0'));
}

std::optional<BoardSpec> parse_board_spec(const QString &text, QString *error)
{
    BoardSpec spec;
    spec.label = text;
    if (text.startsWith(QLatin1String("udp:")))
        return read_udp(text, spec, error);
    if (text.startsWith(QLatin1String("uart:")))
        return read_uart(text, spec, error);
    return refuse(text, QStringLiteral("expected %1").arg(KINDS), error);
}

std::optional<QList<BoardSpec>> parse_boards_file(const QString &content, QString *error)
{
    QList<BoardSpec> boards;
    const QStringList lines = content.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).section(QLatin1Char('#'), 0, 0).trimmed();
        if (line.isEmpty())
            continue;
        QString why;
        const std::optional<BoardSpec> spec = parse_board_spec(line, &why);
        if (!spec) {
            if (error)
                *error = QStringLiteral("line %1: %2").arg(QString::number(i + 1), why);
            return std::nullopt;
        }
        boards.append(*spec);
    }
    return boards;
}

LinkSettings link_settings(const BoardSpec &spec, const QString &port)
{
    LinkSettings link;
    link.serial = spec.serial;
    if (spec.serial) {
        link.portName = spec.serialNumber.isEmpty() ? spec.device : port;
        link.baudRate = spec.baud;
    } else {
        link.boardIp = spec.address;
        link.boardPort = spec.port;
        link.hostIp = spec.bindAddress;
        link.hostPort = spec.bindPort;
    }
    return link;
}

QList<PortInfo> available_ports()
{
    QList<PortInfo> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        PortInfo port;
#ifdef Q_OS_WIN
        port.location = info.portName(); // "COM7", as people write it, not "\\.\COM7"
#else
        port.location = info.systemLocation();
#endif
        port.serialNumber = info.serialNumber();
        port.description = info.description();
        if (info.hasVendorIdentifier())
            port.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            port.productId = info.productIdentifier();
        ports.append(port);
    }
    return ports;
}

QString describe_port(const PortInfo &port)
{
    QStringList details;
    details << (port.serialNumber.isEmpty() ? QStringLiteral("no serial number")
                                            : QStringLiteral("serial ") + port.serialNumber);
    if (port.vendorId && port.productId)
        details << QStringLiteral("%1:%2").arg(hex4(*port.vendorId), hex4(*port.productId));
    if (!port.description.isEmpty())
        details << port.description;
    return QStringLiteral("%1 (%2)").arg(port.location, details.join(QStringLiteral(", ")));
}

SerialMatch match_serial_number(const QList<PortInfo> &ports, const QString &number)
{
    QStringList matches;
    QStringList candidates;
    for (const PortInfo &port : ports) {
        if (!port.serialNumber.isEmpty()
            && port.serialNumber.compare(number, Qt::CaseInsensitive) == 0)
            matches << port.location;
        // Only USB ports can have been meant; the rest would only lengthen the list.
        if (!port.serialNumber.isEmpty() || port.vendorId)
            candidates << describe_port(port);
    }
    SerialMatch match;
    if (matches.size() == 1) {
        match.location = matches.first();
        return match;
    }
    const QString listed = candidates.isEmpty()
        ? QStringLiteral("no USB serial ports are present")
        : QStringLiteral("USB serial ports: ") + candidates.join(QStringLiteral("; "));
    match.error = matches.isEmpty()
        ? QStringLiteral("no serial port has USB serial number %1; %2").arg(number, listed)
        : QStringLiteral("%1 serial ports have USB serial number %2 (%3); %4")
              .arg(QString::number(matches.size()), number, matches.join(QStringLiteral(", ")),
                   listed);
    return match;
}

} // namespace qvota::cli
