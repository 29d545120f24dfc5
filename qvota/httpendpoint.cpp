#include "httpendpoint.h"

#include "ipaddress.h"

#include <algorithm>

namespace qvota::cli {

QString HttpEndpoint::text() const
{
    const QString host = address.toString();
    const bool v6 = address.protocol() == QAbstractSocket::IPv6Protocol;
    return (v6 ? QLatin1Char('[') + host + QLatin1Char(']') : host) + QLatin1Char(':')
        + QString::number(port);
}

Expected<HttpEndpoint> read_http_endpoint(const QString &text)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return Failure::refused(QStringLiteral("'%1' is not ADDRESS:PORT").arg(text));
    QString host = text.left(colon);
    const QString portText = text.mid(colon + 1);
    const bool bracketed = host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'));
    if (bracketed)
        host = host.mid(1, host.size() - 2);
    const Expected<QHostAddress> address = read_ip_address(host);
    if (!address)
        return Failure::refused(QStringLiteral("%1: %2").arg(host, address.message()));
    const bool v6 = address->protocol() == QAbstractSocket::IPv6Protocol;
    if (bracketed != v6)
        return Failure::refused(v6 ? QStringLiteral("an IPv6 address goes in brackets, as in [%1]:%2")
                                         .arg(host, portText)
                                   : QStringLiteral("only an IPv6 address goes in brackets"));
    bool ok = false;
    const uint port = portText.toUInt(&ok);
    const bool digits = !portText.isEmpty() && portText.size() <= 5
        && std::all_of(portText.cbegin(), portText.cend(), [](QChar c) { return c.isDigit(); });
    if (!ok || !digits || port > 65535)
        return Failure::refused(
            QStringLiteral("port '%1' is not a number from 0 to 65535").arg(portText));
    return HttpEndpoint{*address, quint16(port)};
}

} // namespace qvota::cli
