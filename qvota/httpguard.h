// The TCP side of the station's HTTP server, which Qt HttpServer 6.4 leaves open: how many
// connections it takes, how large a request may grow and how long a client may take. A slow,
// stalled or hostile client then costs a bounded amount of memory and time and never holds
// the server up.
#pragma once

#include <QElapsedTimer>
#include <QSet>
#include <QTcpServer>
#include <QTimer>

namespace qvota::cli {

struct HttpLimits
{
    int connections = 64; // open at once; more are answered 503 and closed
    // A request, headers and body, from its first byte to its end; beyond it: 413 and close.
    qint64 requestBytes = 8 * 1024;
    int requestMs = 5000; // from a request's first byte to its end; then 408 and close
    int idleMs = 30000;   // between requests; then closed
    // Answers a client has not read; beyond it the client is not reading and is dropped.
    qint64 unreadBytes = 1024 * 1024;
};

class GuardedTcpServer final : public QTcpServer
{
    Q_OBJECT
public:
    explicit GuardedTcpServer(const HttpLimits &limits, QObject *parent = nullptr);
    ~GuardedTcpServer() override;

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    class Guard;
    void sweep();

    const HttpLimits m_limits;
    // One timer looks at every connection's deadline a few times a second, rather than a timer
    // per connection restarted on every request: a scrape then costs no timer calls.
    QTimer m_sweep;
    QElapsedTimer m_clock;
    QSet<Guard *> m_guards;
};

} // namespace qvota::cli
