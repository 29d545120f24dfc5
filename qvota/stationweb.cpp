#include "stationweb.h"

#include "httpguard.h"
#include "statusviews.h"

#include <QFile>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QSysInfo>
#include <QTcpSocket>
#include <QThread>

#include <future>

namespace qvota::cli {

namespace {

using Status = QHttpServerResponder::StatusCode;
using Method = QHttpServerRequest::Method;

struct Body
{
    QByteArray type;
    QByteArray bytes;
    Status status = Status::Ok;
};

Body text_body(const QByteArray &text, Status status)
{
    return {QByteArrayLiteral("text/plain; charset=utf-8"), text + '\n', status};
}

// Writes the answer by its parts: Qt 6.4 would send a body after the headers of a HEAD answer
// too, and the client would take it for the start of the next answer.
void answer(const QHttpServerRequest &request, QHttpServerResponder &responder, const Body &body)
{
    const bool head = request.method() == Method::Head;
    responder.writeStatusLine(body.status);
    responder.writeHeader(QByteArrayLiteral("Content-Type"), body.type);
    responder.writeHeader(QByteArrayLiteral("Content-Length"), QByteArray::number(body.bytes.size()));
    // Always the state of now, never a copy from a cache; and nothing of it runs as another type.
    responder.writeHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store"));
    responder.writeHeader(QByteArrayLiteral("X-Content-Type-Options"), QByteArrayLiteral("nosniff"));
    if (body.status == Status::MethodNotAllowed)
        responder.writeHeader(QByteArrayLiteral("Allow"), QByteArrayLiteral("GET, HEAD"));
    if (body.type.startsWith("text/html")) {
        // The page fetches its status from here and nothing from anywhere else.
        responder.writeHeader(QByteArrayLiteral("Content-Security-Policy"),
                              QByteArrayLiteral("default-src 'none'; connect-src 'self'; "
                                                "script-src 'unsafe-inline'; "
                                                "style-src 'unsafe-inline'; img-src data:"));
    }
    responder.writeBody(head ? QByteArray() : body.bytes);
    // Out at once, rather than on the next turn of the event loop: one wake-up a request less.
    responder.socket()->flush();
    // Qt 6.4 keeps every connection open; a client that says it is done gets it closed.
    if (request.value(QByteArrayLiteral("connection")).compare("close", Qt::CaseInsensitive) == 0)
        responder.socket()->disconnectFromHost();
}

QByteArray page_html()
{
    QFile file(QStringLiteral(":/qvota/station.html"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// /metrics is scraped far more often than the status changes; its text is made once per change.
class MetricsCache
{
public:
    explicit MetricsCache(const StationStatus &status)
        : m_status(status)
    {}

    QByteArray text()
    {
        if (m_generation != m_status.generation()) {
            const StationSnapshot snapshot = m_status.snapshot();
            m_text = metrics_text(snapshot);
            m_generation = snapshot.generation;
        }
        return m_text;
    }

private:
    const StationStatus &m_status;
    quint64 m_generation = 0;
    QByteArray m_text;
};

} // namespace

// The server's objects live and die on this thread: they are made in run() and gone when it
// returns, so none of them is ever touched from another thread.
class StationWeb::Thread final : public QThread
{
public:
    Thread(const HttpEndpoint &endpoint, const StationStatus &status)
        : m_endpoint(endpoint)
        , m_status(status)
    {}

    // Waits until the server listens or has failed to.
    Expected<quint16> listening() { return m_listening.get_future().get(); }

    ~Thread() override
    {
        quit();
        wait();
    }

protected:
    void run() override
    {
        QHttpServer http;
        auto *tcp = new GuardedTcpServer(HttpLimits{}, &http);
        if (!tcp->listen(m_endpoint.address, m_endpoint.port)) {
            m_listening.set_value(Failure::refused(QStringLiteral("cannot serve HTTP on %1: %2")
                                                       .arg(m_endpoint.text(), tcp->errorString())));
            return;
        }
        http.bind(tcp);

        const QByteArray page = page_html();
        MetricsCache metrics(m_status);
        const auto serve = [&http](const QString &path, std::function<Body()> make) {
            http.route(path, [make](const QHttpServerRequest &request,
                                    QHttpServerResponder &&responder) {
                const Method method = request.method();
                answer(request, responder,
                       method == Method::Get || method == Method::Head
                           ? make()
                           : text_body("only GET and HEAD", Status::MethodNotAllowed));
            });
        };
        serve(QStringLiteral("/"), [&page] {
            return Body{QByteArrayLiteral("text/html; charset=utf-8"), page};
        });
        serve(QStringLiteral("/api/status"), [this] {
            return Body{QByteArrayLiteral("application/json"), status_json(m_status.snapshot())};
        });
        serve(QStringLiteral("/metrics"), [&metrics] {
            return Body{QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8"),
                        metrics.text()};
        });
        http.setMissingHandler([](const QHttpServerRequest &request,
                                  QHttpServerResponder &&responder) {
            answer(request, responder,
                   text_body("not found: this station serves /, /api/status and /metrics",
                             Status::NotFound));
        });

        m_listening.set_value(tcp->serverPort());
        exec();
    }

private:
    const HttpEndpoint m_endpoint;
    const StationStatus &m_status;
    std::promise<Expected<quint16>> m_listening;
};

Expected<std::unique_ptr<StationWeb>> StationWeb::start(const HttpEndpoint &endpoint,
                                                        const StationStatus &status)
{
    auto thread = std::make_unique<Thread>(endpoint, status);
    thread->start();
    const Expected<quint16> port = thread->listening();
    if (!port)
        return port.failure();
    HttpEndpoint bound = endpoint;
    bound.port = *port;
    return std::unique_ptr<StationWeb>(new StationWeb(std::move(thread), bound));
}

StationWeb::StationWeb(std::unique_ptr<Thread> thread, const HttpEndpoint &endpoint)
    : m_thread(std::move(thread))
    , m_endpoint(endpoint)
{}

StationWeb::~StationWeb() = default;

QString StationWeb::url() const
{
    HttpEndpoint shown = m_endpoint;
    if (shown.address == QHostAddress::AnyIPv4 || shown.address == QHostAddress::AnyIPv6) {
        return QStringLiteral("http://%1:%2/").arg(QSysInfo::machineHostName(),
                                                   QString::number(shown.port));
    }
    return QStringLiteral("http://%1/").arg(shown.text());
}

} // namespace qvota::cli
