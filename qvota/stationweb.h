// The station's read-only HTTP side: the page at /, the status as JSON at /api/status and the
// Prometheus metrics at /metrics. It runs on a thread of its own with its own event loop and
// only ever reads copies of the status, so no client can slow a board.
#pragma once

#include "expected.h"
#include "httpendpoint.h"
#include "stationstatus.h"

#include <memory>

namespace qvota::cli {

class StationWeb
{
public:
    // Listens on endpoint and serves status until destroyed. The failure says why it could not
    // listen ("cannot serve HTTP on 127.0.0.1:80: ...").
    static Expected<std::unique_ptr<StationWeb>> start(const HttpEndpoint &endpoint,
                                                       const StationStatus &status);
    ~StationWeb(); // stops serving; open connections are closed
    StationWeb(const StationWeb &) = delete;
    StationWeb &operator=(const StationWeb &) = delete;

    // Where it listens, with the port the system chose for port 0.
    HttpEndpoint endpoint() const { return m_endpoint; }
    // "http://127.0.0.1:9477/"; for an unspecified address, the host's name in its place.
    QString url() const;

private:
    class Thread;
    StationWeb(std::unique_ptr<Thread> thread, const HttpEndpoint &endpoint);

    std::unique_ptr<Thread> m_thread;
    HttpEndpoint m_endpoint;
};

} // namespace qvota::cli
