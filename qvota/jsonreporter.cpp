#include "jsonreporter.h"

#include "jsonline.h"
#include "reportwording.h"

#include <QMutex>

#include <cstdio>

namespace qvota::cli {

namespace {

class JsonReporter final : public LiveReporter
{
public:
    explicit JsonReporter(const OutputOptions &options)
        : LiveReporter(options)
    {}

    void started(const QString &board, const QString &port, const QString &usbSerial) override
    {
        QJsonObject object = event_object(QStringLiteral("start"), board);
        object.insert(QStringLiteral("port"), port);
        if (!usbSerial.isEmpty())
            object.insert(QStringLiteral("usbSerial"), usbSerial);
        const QMutexLocker lock(&m_mutex);
        write(object);
        if (m_live)
            m_live->state(board, QStringLiteral("starting"));
    }

    void logged(const QString &board, const QString &line) override
    {
        QJsonObject object = event_object(QStringLiteral("log"), board);
        object.insert(QStringLiteral("text"), line);
        const QMutexLocker lock(&m_mutex);
        write(object);
    }

    void progressed(const QString &board, int done, int total) override
    {
        QJsonObject object = event_object(QStringLiteral("progress"), board);
        object.insert(QStringLiteral("done"), done);
        object.insert(QStringLiteral("total"), total);
        const QMutexLocker lock(&m_mutex);
        write(object);
        if (m_live)
            m_live->progress(board, done, total);
    }

    void finished(const BoardResult &result) override
    {
        QJsonObject object = event_object(QStringLiteral("result"), result.label);
        const QJsonObject fields = result_fields(result);
        for (auto field = fields.begin(); field != fields.end(); ++field)
            object.insert(field.key(), field.value());
        const QMutexLocker lock(&m_mutex);
        write(object);
        if (m_live)
            m_live->state(result.label, result_text(result));
    }

    void slotChanged(const QString &board, SlotState state) override
    {
        const QMutexLocker lock(&m_mutex);
        write(event_object(event_name(state), board));
        if (m_live)
            m_live->state(board, state_text(state));
    }

    void summary(const Tally &tally, int exitCode) override
    {
        QJsonObject object = event_object(QStringLiteral("summary"));
        object.insert(QStringLiteral("verified"), tally.verified);
        object.insert(QStringLiteral("failed"), tally.failed);
        object.insert(QStringLiteral("cancelled"), tally.cancelled);
        object.insert(QStringLiteral("exitCode"), exitCode);
        const QMutexLocker lock(&m_mutex);
        if (m_live)
            m_live->finish();
        write(object);
    }

private:
    void write(const QJsonObject &object)
    {
        const QByteArray line = json_line(object);
        if (m_live) {
            m_live->writeAbove(stdout, line);
            return;
        }
        std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        std::fflush(stdout);
    }

};

} // namespace

std::unique_ptr<Reporter> make_json_reporter(const OutputOptions &options)
{
    return std::make_unique<JsonReporter>(options);
}

} // namespace qvota::cli
