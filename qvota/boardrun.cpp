#include "boardrun.h"

#include "jsonline.h"
#include "runsetup.h"

#include <QElapsedTimer>
#include <QFileInfo>

namespace qvota::cli {

namespace {

// A few progress reports a second are enough for a person or a dashboard; a 2 MiB image has
// 8192 frames, and a line for each would flood a pipe.
constexpr int PROGRESS_INTERVAL_MS = 250;

QString canonical(const QString &path)
{
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? path : resolved;
}

} // namespace

Expected<BoardPlace> locate(const BoardSpec &spec, const QList<PortInfo> &ports)
{
    BoardPlace place;
    if (!spec.serial) {
        place.link = link_settings(spec);
        const bool v6 = spec.address.contains(QLatin1Char(':'));
        place.port = (v6 ? QLatin1Char('[') + spec.address + QLatin1Char(']') : spec.address)
            + QLatin1Char(':') + QString::number(spec.port);
        return place;
    }
    if (!spec.serialNumber.isEmpty()) {
        const Expected<QString> match = match_serial_number(ports, spec.serialNumber);
        if (!match)
            return match.failure();
        place.port = *match;
        place.usbSerial = spec.serialNumber;
        place.link = link_settings(spec, *match);
        return place;
    }
    place.link = link_settings(spec);
    place.port = spec.device;
    // A device named through a symbolic link (/dev/serial/by-id/...) is the same port.
    const QString device = canonical(spec.device);
    for (const PortInfo &port : ports) {
        if (canonical(port.location) == device)
            place.usbSerial = port.serialNumber;
    }
    return place;
}

BoardResult update_board(const BoardSpec &spec, const Expected<BoardPlace> &place,
                         const UpdatePlan &plan, const std::atomic_bool *cancel)
{
    Reporter &reporter = *plan.reporter;
    const BoardPlace where = place ? *place : BoardPlace();
    reporter.started(spec.label, where.port, where.usbSerial);

    BoardResult result;
    result.label = spec.label;
    result.port = where.port;
    result.usbSerial = where.usbSerial;
    if (!place) {
        result.run.failure = place.failure();
        result.run.stage = RunStage::Link;
        result.run.expectedCrc32 = plan.request.image.info.crc32;
    } else {
        QElapsedTimer sinceReport;
        OtaCallbacks callbacks;
        callbacks.log = [&](const QString &line) { reporter.logged(spec.label, line); };
        callbacks.stage = [&](RunStage stage) { reporter.staged(spec.label, stage); };
        callbacks.progress = [&](int done, int total) {
            if (done < total && sinceReport.isValid()
                && sinceReport.elapsed() < PROGRESS_INTERVAL_MS)
                return;
            sinceReport.start();
            reporter.progressed(spec.label, done, total);
        };
        callbacks.cancel = cancel;
        RunRequest request = plan.request;
        request.link = where.link;
        result.run = run_update(request, callbacks);
    }
    if (plan.history && !plan.history->append(json_line(history_record(result, plan.facts))))
        reporter.logged(spec.label, QStringLiteral("could not append to the history file"));
    plan.tally->add(result.outcome());
    reporter.finished(result);
    return result;
}

} // namespace qvota::cli
