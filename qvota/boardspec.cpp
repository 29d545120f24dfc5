#include "boardspec.h"

#include "ipaddress.h"
#include "settingscheck.h"

#include <QHostAddress>
#include <QFileInfo>
#include <QHash>
#include <QSerialPortInfo>

#include <limits>

namespace qvota::cli {

namespace {

const QString KINDS =
    QStringLiteral("udp:ADDRESS[:PORT][,bind=ADDRESS[:PORT]], uart:DEVICE[@BAUD] or "
                   "uart:serial=NUMBER[@BAUD]");

Failure refuse(const QString &text, const QString &why)
{
    return Failure::refused(QStringLiteral("board '%1': %2").arg(text, why));
}

// The text with every character that does not print shown as its code, so that a message about
// it cannot itself carry a control sequence.
QString printable(const QString &text)
{
    QString shown;
    for (const QChar c : text) {
        if (c.isPrint())
            shown += c;
        else
            shown += QStringLiteral("\\u%1").arg(QString::number(c.unicode(), 16).rightJustified(4, u'0'));
    }
    return shown;
}

struct Endpoint
{
    QHostAddress address;
    std::optional<quint16> port;
};

// ADDRESS[:PORT] with an IPv6 address in brackets. Only literal addresses, read by the one
// address rule: a name would need a resolver on a rack that may have none, and a loose spelling
// could name another board.
Expected<Endpoint> read_endpoint(const QString &text, int lowestPort)
{
    const bool bracketed = text.startsWith(QLatin1Char('['));
    QString addressText;
    QString portText;
    bool hasPort = false;
    if (bracketed) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return Failure::refused(QStringLiteral("'[' without ']'"));
        addressText = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return Failure::refused(QStringLiteral("expected ':PORT' after ']'"));
            hasPort = true;
            portText = rest.mid(1);
        }
    } else {
        const qsizetype colons = text.count(QLatin1Char(':'));
        if (colons > 1)
            return Failure::refused(
                read_ip_address(text).ok()
                    ? QStringLiteral("an IPv6 address goes in brackets, as in [%1]").arg(text)
                    : QStringLiteral("'%1' is not ADDRESS[:PORT]").arg(text));
        addressText = text.section(QLatin1Char(':'), 0, 0);
        if (colons == 1) {
            hasPort = true;
            portText = text.section(QLatin1Char(':'), 1);
        }
    }
    const Expected<QHostAddress> address = read_ip_address(addressText);
    if (!address)
        return Failure::refused(QStringLiteral("%1: %2").arg(addressText, address.message()));
    if (bracketed != (address->protocol() == QAbstractSocket::IPv6Protocol))
        return Failure::refused(
            (bracketed ? QStringLiteral("%1: only an IPv6 address goes in brackets")
                       : QStringLiteral("%1: an IPv6 address goes in brackets"))
                .arg(addressText));
    Endpoint endpoint;
    endpoint.address = *address;
    if (hasPort) {
        if (!whole_number_in(portText, lowestPort, 65535))
            return Failure::refused(QStringLiteral("port '%1' is not a number from %2 to 65535")
                                        .arg(portText, QString::number(lowestPort)));
        endpoint.port = quint16(portText.toUInt());
    }
    return endpoint;
}

Expected<BoardSpec> read_udp(const QString &text, BoardSpec spec)
{
    const QStringList parts = text.mid(4).split(QLatin1Char(','));
    const Expected<Endpoint> board = read_endpoint(parts.first(), 1);
    if (!board)
        return refuse(text, board.message());
    if (const QString problem = board_address_problem(board->address); !problem.isEmpty())
        return refuse(text, problem);
    spec.address = canonical_address(board->address);
    spec.port = board->port.value_or(defaults::BOARD_PORT);
    for (const QString &option : parts.mid(1)) {
        if (!option.startsWith(QLatin1String("bind=")))
            return refuse(text, QStringLiteral("unknown option '%1' (only bind=)").arg(option));
        if (!spec.bindAddress.isEmpty())
            return refuse(text, QStringLiteral("bind= given twice"));
        const Expected<Endpoint> local = read_endpoint(option.mid(5), 0);
        if (!local)
            return refuse(text, local.message());
        if (local->address.protocol() != board->address.protocol())
            return refuse(text, QStringLiteral("the bind address is not of the board's family"));
        spec.bindAddress = canonical_address(local->address);
        spec.bindPort = local->port.value_or(0);
    }
    return spec;
}

Expected<BoardSpec> read_uart(const QString &text, BoardSpec spec)
{
    QString body = text.mid(5);
    const qsizetype at = body.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        const QString baudText = body.mid(at + 1);
        if (!whole_number_in(baudText, 1, std::numeric_limits<int>::max()))
            return refuse(text, QStringLiteral("baud '%1' is not a positive number").arg(baudText));
        spec.baud = baudText.toInt();
        body.truncate(at);
    }
    spec.serial = true;
    if (body.startsWith(QLatin1String("serial="))) {
        spec.serialNumber = body.mid(7);
        if (spec.serialNumber.isEmpty())
            return refuse(text, QStringLiteral("serial= needs a USB serial number"));
        return spec;
    }
    if (body.isEmpty())
        return refuse(text, QStringLiteral("no device"));
    spec.device = body;
    return spec;
}

} // namespace

QString hex4(quint16 id)
{
    return QString::number(id, 16).rightJustified(4, QLatin1Char('0'));
}

Expected<BoardSpec> parse_board_spec(const QString &text)
{
    // The text given for a board is its label in every output: a control character in it would
    // reach the operator's terminal, and blanks around it would make one board look like two.
    for (const QChar c : text) {
        if (!c.isPrint())
            return refuse(printable(text),
                          QStringLiteral("holds the control character U+%1")
                              .arg(QString::number(c.unicode(), 16).toUpper().rightJustified(4, u'0')));
    }
    if (text.trimmed() != text)
        return refuse(text, QStringLiteral("blanks around the board spec"));
    BoardSpec spec;
    spec.label = text;
    if (text.startsWith(QLatin1String("udp:")))
        return read_udp(text, spec);
    if (text.startsWith(QLatin1String("uart:")))
        return read_uart(text, spec);
    return refuse(text, QStringLiteral("expected %1").arg(KINDS));
}

Expected<QList<BoardSpec>> parse_boards_file(const QString &content)
{
    QList<BoardSpec> boards;
    const QStringList lines = content.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).section(QLatin1Char('#'), 0, 0).trimmed();
        if (line.isEmpty())
            continue;
        const Expected<BoardSpec> spec = parse_board_spec(line);
        if (!spec)
            return Failure::refused(
                QStringLiteral("line %1: %2").arg(QString::number(i + 1), spec.message()));
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

Expected<QString> match_serial_number(const QList<PortInfo> &ports, const QString &number)
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
    if (matches.size() == 1)
        return matches.first();
    const QString listed = candidates.isEmpty()
        ? QStringLiteral("no USB serial ports are present")
        : QStringLiteral("USB serial ports: ") + candidates.join(QStringLiteral("; "));
    return Failure::refused(
        matches.isEmpty()
            ? QStringLiteral("no serial port has USB serial number %1; %2").arg(number, listed)
            : QStringLiteral("%1 serial ports have USB serial number %2 (%3); %4")
                  .arg(QString::number(matches.size()), number,
                       matches.join(QStringLiteral(", ")), listed));
}

} // namespace qvota::cli

namespace qvota::cli {

namespace {

QString canonical_device(const QString &path)
{
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? path : resolved;
}

// Every name under which the board of spec is reached; two specs with a name in common reach
// one board.
QStringList board_keys(const BoardSpec &spec, const QList<PortInfo> &ports)
{
    if (!spec.serial)
        return {QStringLiteral("udp %1 %2").arg(spec.address, QString::number(spec.port))};
    QStringList keys;
    const auto addPort = [&keys](const PortInfo &port) {
        keys << QStringLiteral("device ") + canonical_device(port.location);
        if (!port.serialNumber.isEmpty())
            keys << QStringLiteral("serial ") + port.serialNumber.toLower();
    };
    if (!spec.serialNumber.isEmpty()) {
        keys << QStringLiteral("serial ") + spec.serialNumber.toLower();
        if (const Expected<QString> match = match_serial_number(ports, spec.serialNumber))
            keys << QStringLiteral("device ") + canonical_device(*match);
        return keys;
    }
    const QString device = canonical_device(spec.device);
    keys << QStringLiteral("device ") + device;
    for (const PortInfo &port : ports) {
        if (canonical_device(port.location) == device)
            addPort(port);
    }
    keys.removeDuplicates();
    return keys;
}

// Two sockets cannot bind one port of one address, nor one port of the unspecified address and
// of another address of its family.
bool binds_overlap(const BoardSpec &a, const BoardSpec &b)
{
    if (a.serial || b.serial || a.bindPort == 0 || a.bindPort != b.bindPort)
        return false;
    const QHostAddress first(a.bindAddress);
    const QHostAddress second(b.bindAddress);
    if (first.protocol() != second.protocol())
        return false;
    const auto unspecified = [](const QHostAddress &address) {
        return address == QHostAddress(QHostAddress::AnyIPv4)
            || address == QHostAddress(QHostAddress::AnyIPv6);
    };
    return first == second || unspecified(first) || unspecified(second);
}

} // namespace

QString shared_board_problem(const QList<BoardSpec> &boards, const QList<PortInfo> &ports)
{
    QHash<QString, QString> seen; // key, label of the first board with it
    for (qsizetype i = 0; i < boards.size(); ++i) {
        const BoardSpec &spec = boards.at(i);
        for (qsizetype j = 0; j < i; ++j) {
            if (binds_overlap(boards.at(j), spec))
                return QStringLiteral("boards '%1' and '%2' both bind local port %3")
                    .arg(boards.at(j).label, spec.label, QString::number(spec.bindPort));
        }
        const QStringList keys = board_keys(spec, ports);
        for (const QString &key : keys) {
            if (const auto found = seen.constFind(key); found != seen.cend())
                return QStringLiteral("boards '%1' and '%2' are the same board")
                    .arg(found.value(), spec.label);
        }
        for (const QString &key : keys)
            seen.insert(key, spec.label);
    }
    return {};
}

} // namespace qvota::cli
