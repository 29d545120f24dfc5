#include "stationwatch.h"

#include "jsonline.h"
#include "runlines.h"

#include <QFileInfo>
#include <QSysInfo>

#include <cstdio>

namespace qvota::cli {

namespace {

StationFacts facts_of(const PreparedRun &run)
{
    StationFacts facts;
    facts.host = QSysInfo::machineHostName();
    facts.version = QStringLiteral(QVOTA_VERSION);
    facts.imageName = QFileInfo(run.plan.facts.path).fileName();
    facts.imageSha256 = run.plan.facts.sha256;
    facts.imageBytes = run.plan.request.image.bytes.size();
    facts.startedAt = QDateTime::currentDateTime();
    return facts;
}

// Said before any board thread starts, so no other line can come between its parts.
void announce(const OutputOptions &output, const StationWeb &web)
{
    QByteArray line;
    if (output.json) {
        QJsonObject object = event_object(QStringLiteral("http"));
        object.insert(QStringLiteral("address"), web.endpoint().address.toString());
        object.insert(QStringLiteral("port"), web.endpoint().port);
        object.insert(QStringLiteral("url"), web.url());
        line = json_line(object);
    } else {
        line = (stamped(QStringLiteral("serving the station's page at %1 (and /api/status, "
                                       "/metrics)")
                            .arg(web.url()))
                + QLatin1Char('\n'))
                   .toLocal8Bit();
    }
    // --quiet keeps stdout for the summary, but the address is still worth knowing.
    std::FILE *stream = output.quiet ? stderr : stdout;
    std::fwrite(line.constData(), 1, size_t(line.size()), stream);
    std::fflush(stream);
}

} // namespace

StationWatch::StationWatch(PreparedRun &run)
    : m_status(facts_of(run), run.options.output.boards)
    , m_reporter(*run.reporter, m_status)
{}

Expected<std::unique_ptr<StationWatch>> StationWatch::start(PreparedRun &run)
{
    std::unique_ptr<StationWatch> watch(new StationWatch(run));
    Expected<std::unique_ptr<StationWeb>> web = StationWeb::start(*run.options.http, watch->m_status);
    if (!web)
        return web.failure();
    watch->m_web = std::move(web).value();
    announce(run.options.output, *watch->m_web);
    return watch;
}

} // namespace qvota::cli
