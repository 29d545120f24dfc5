// Where a station serves its page and metrics: --http ADDRESS:PORT.
#pragma once

#include "expected.h"

#include <QHostAddress>
#include <QString>

namespace qvota::cli {

struct HttpEndpoint
{
    QHostAddress address;
    quint16 port = 0; // 0: the system chooses

    // "127.0.0.1:9477", "[::1]:9477"
    QString text() const;
};

// ADDRESS:PORT with a literal address (IPv6 in brackets, 0.0.0.0 or [::] for every interface)
// and a port from 0 to 65535. The failure says what is wrong, without the option's name.
Expected<HttpEndpoint> read_http_endpoint(const QString &text);

} // namespace qvota::cli
