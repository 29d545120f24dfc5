#include "ipaddress.h"

#include <QNetworkInterface>
#include <QStringList>

namespace qvota {

namespace {

const QString IPV4_RULE = QStringLiteral("not an IPv4 address (four numbers 0-255, no leading zeros)");
const QString IPV6_RULE =
    QStringLiteral("not an IPv6 address (up to eight groups of 1-4 hex digits, '::' at most once)");

bool strict_ipv4(QStringView text)
{
    const QList<QStringView> parts = text.split(u'.');
    if (parts.size() != 4)
        return false;
    for (const QStringView part : parts) {
        if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part.front() == u'0'))
            return false;
        for (const QChar c : part) {
            if (c < u'0' || c > u'9')
                return false;
        }
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

bool hex_group(QStringView group)
{
    if (group.isEmpty() || group.size() > 4)
        return false;
    for (const QChar c : group) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
            return false;
    }
    return true;
}

// The groups of one side of "::" (or of the whole address without it); a dotted IPv4 tail
// counts as two groups and may only end the address. -1 when a group is malformed.
int count_groups(QStringView side, bool endsAddress)
{
    if (side.isEmpty())
        return 0;
    const QList<QStringView> groups = side.split(u':');
    int count = 0;
    for (qsizetype i = 0; i < groups.size(); ++i) {
        const bool last = i + 1 == groups.size();
        if (last && endsAddress && groups[i].contains(u'.')) {
            if (!strict_ipv4(groups[i]))
                return -1;
            count += 2;
        } else if (hex_group(groups[i])) {
            ++count;
        } else {
            return -1;
        }
    }
    return count;
}

bool strict_ipv6(QStringView text)
{
    const qsizetype gap = text.indexOf(u"::");
    if (gap < 0)
        return count_groups(text, true) == 8;
    if (text.indexOf(u"::", gap + 1) >= 0)
        return false;
    const int before = count_groups(text.left(gap), false);
    const int after = count_groups(text.mid(gap + 2), true);
    // "::" stands for at least one group of zeros.
    return before >= 0 && after >= 0 && before + after <= 7;
}

bool is_ipv4_mapped(const QHostAddress &address)
{
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    for (int i = 0; i < 10; ++i) {
        if (bytes[i] != 0)
            return false;
    }
    return bytes[10] == 0xff && bytes[11] == 0xff;
}

bool looks_ipv4(const QString &text)
{
    for (const QChar c : text) {
        if (c != u'.' && (c < u'0' || c > u'9'))
            return false;
    }
    return true;
}

} // namespace

Expected<QHostAddress> read_ip_address(const QString &text)
{
    if (text.isEmpty())
        return Failure::refused(QStringLiteral("not an IP address (none given)"));
    if (text.trimmed() != text)
        return Failure::refused(QStringLiteral("not an IP address (blanks around it)"));
    if (text.startsWith(u'['))
        return Failure::refused(
            QStringLiteral("not an IP address (write an IPv6 address without brackets)"));
    if (text.contains(u'%'))
        return Failure::refused(QStringLiteral("not an IPv6 address (no zone index)"));
    if (text.contains(u':')) {
        if (!strict_ipv6(text))
            return Failure::refused(IPV6_RULE);
        const QHostAddress address(text);
        if (address.protocol() != QAbstractSocket::IPv6Protocol)
            return Failure::refused(IPV6_RULE);
        // One board, one spelling: an IPv4 board is written as IPv4.
        if (is_ipv4_mapped(address))
            return Failure::refused(
                QStringLiteral("an IPv4-mapped address (write the IPv4 address %1)")
                    .arg(QHostAddress(address.toIPv4Address()).toString()));
        return address;
    }
    if (looks_ipv4(text)) {
        if (!strict_ipv4(text))
            return Failure::refused(IPV4_RULE);
        return QHostAddress(text);
    }
    return Failure::refused(QStringLiteral("not an IP address (names are not looked up)"));
}

QString board_address_problem(const QHostAddress &address)
{
    if (address == QHostAddress(QHostAddress::AnyIPv4) || address == QHostAddress(QHostAddress::AnyIPv6))
        return QStringLiteral("the unspecified address names no board");
    if (address.isMulticast())
        return QStringLiteral("a multicast address reaches every board in its group");
    if (address.isBroadcast())
        return QStringLiteral("a broadcast address reaches every board on the network");
    for (const QNetworkInterface &iface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
            if (!entry.broadcast().isNull() && entry.broadcast() == address)
                return QStringLiteral("the broadcast address of %1 reaches every board there")
                    .arg(iface.humanReadableName());
        }
    }
    return {};
}

QString canonical_address(const QHostAddress &address)
{
    QHostAddress plain = address;
    plain.setScopeId(QString());
    return plain.toString().toLower();
}

} // namespace qvota
