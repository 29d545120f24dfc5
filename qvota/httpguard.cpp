#include "httpguard.h"

#include <QPointer>
#include <QTcpSocket>

namespace qvota::cli {

namespace {

// After a refusal or a time-out, how long the last words may take to leave before the
// connection is cut.
constexpr int LINGER_MS = 1000;
// The most a connection holds of what a client sent; a request may be far smaller.
constexpr qint64 READ_BUFFER_BYTES = 64 * 1024;
// How often the deadlines are looked at: a time-out comes this much late at most.
constexpr int SWEEP_MS = 250;

// The few answers the server gives itself, before or instead of the HTTP server; each closes
// the connection.
QByteArray closing_answer(const char *status)
{
    return QByteArrayLiteral("HTTP/1.1 ") + status
        + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

} // namespace

// Watches one connection for the server. It sees each chunk of a request before the HTTP
// server does (its readyRead slot is connected first), counts the request's bytes and keeps
// one deadline: the request's end while one is coming in, else the next request's start.
class GuardedTcpServer::Guard final : public QObject
{
public:
    Guard(QTcpSocket *socket, GuardedTcpServer &server)
        : QObject(socket)
        , m_socket(socket)
        , m_server(server)
        , m_httpServer(server.parent())
        , m_deadlineMs(server.m_clock.elapsed() + server.m_limits.idleMs)
    {
        connect(socket, &QTcpSocket::readyRead, this, &Guard::arrived);
        connect(socket, &QTcpSocket::bytesWritten, this, &Guard::written);
        m_server.m_guards.insert(this);
        if (!m_server.m_sweep.isActive())
            m_server.m_sweep.start();
    }

    ~Guard() override
    {
        m_server.m_guards.remove(this);
        if (m_server.m_guards.isEmpty())
            m_server.m_sweep.stop();
    }

    void check(qint64 nowMs)
    {
        if (nowMs < m_deadlineMs)
            return;
        if (m_closing || m_socket->bytesToWrite() > 0)
            m_socket->abort();
        else if (m_inRequest)
            refuse("408 Request Timeout");
        else
            close();
    }

private:
    void arrived()
    {
        if (m_closing)
            return;
        // The HTTP server keeps a read transaction open from a request's first byte until it
        // has the whole request; without one, this chunk starts a new request.
        if (!m_socket->isTransactionStarted()) {
            m_inRequest = true;
            m_requestBytes = 0;
            m_deadlineMs = m_server.m_clock.elapsed() + m_server.m_limits.requestMs;
        }
        m_requestBytes += m_socket->bytesAvailable();
        if (m_requestBytes > m_server.m_limits.requestBytes)
            refuse("413 Content Too Large");
        else if (m_socket->bytesToWrite() > m_server.m_limits.unreadBytes)
            m_socket->abort();
    }

    void written()
    {
        // An answer has left and no further request has begun: idle until the next.
        if (!m_closing && m_inRequest && !m_socket->isTransactionStarted()
            && m_socket->bytesToWrite() == 0) {
            m_inRequest = false;
            m_deadlineMs = m_server.m_clock.elapsed() + m_server.m_limits.idleMs;
        }
    }

    // Answers in the HTTP server's place, which then never sees the rest of this connection.
    void refuse(const char *status)
    {
        disconnect(m_socket, &QTcpSocket::readyRead, m_httpServer, nullptr);
        m_socket->write(closing_answer(status));
        close();
    }

    void close()
    {
        m_closing = true;
        m_socket->disconnectFromHost();
        m_deadlineMs = m_server.m_clock.elapsed() + LINGER_MS;
    }

    QTcpSocket *const m_socket;
    GuardedTcpServer &m_server;
    QPointer<QObject> m_httpServer;
    qint64 m_deadlineMs;
    bool m_inRequest = false;
    bool m_closing = false;
    qint64 m_requestBytes = 0;
};

GuardedTcpServer::GuardedTcpServer(const HttpLimits &limits, QObject *parent)
    : QTcpServer(parent)
    , m_limits(limits)
{
    m_clock.start();
    m_sweep.setInterval(SWEEP_MS);
    connect(&m_sweep, &QTimer::timeout, this, &GuardedTcpServer::sweep);
}

// The sockets, and with them their guards, are children of the server and go before it.
GuardedTcpServer::~GuardedTcpServer()
{
    const QList<QTcpSocket *> sockets = findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly);
    qDeleteAll(sockets);
}

void GuardedTcpServer::sweep()
{
    const qint64 now = m_clock.elapsed();
    // A check may close a connection, and its guard leaves the set only later, with its socket.
    const QSet<Guard *> guards = m_guards;
    for (Guard *guard : guards)
        guard->check(now);
}

void GuardedTcpServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        socket->deleteLater();
        return;
    }
    // However a connection ends (by the client, a time-out or the HTTP server), its socket is
    // deleted; the HTTP server does it too for those it was handed.
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (m_guards.size() >= m_limits.connections) {
        socket->write(closing_answer("503 Service Unavailable"));
        socket->disconnectFromHost();
        QTimer::singleShot(LINGER_MS, socket, [socket] { socket->abort(); });
        return;
    }
    socket->setReadBufferSize(READ_BUFFER_BYTES);
    new Guard(socket, *this);
    addPendingConnection(socket);
}

} // namespace qvota::cli
