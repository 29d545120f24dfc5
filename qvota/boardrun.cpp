#include "boardrun.h"

#include "jsonline.h"

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

BoardPlace locate(const BoardSpec &spec, const QList<PortInfo> &ports)
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
        const SerialMatch match = match_serial_number(ports, spec.serialNumber);
        place.error = match.error;
        place.port = match.location;
        place.usbSerial = match.location.isEmpty() ? QString() : spec.serialNumber;
        place.link = link_settings(spec, match.location);
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

BoardResult update_board(const BoardSpec &spec, const BoardPlace &place, const UpdatePlan &plan,
                         const std::atomic_bool *cancel)
{
    Reporter &reporter = *plan.reporter;
    reporter.started(spec.label, place.port, place.usbSerial);

    BoardResult result;
    result.label = spec.label;
    result.port = place.port;
    result.usbSerial = place.usbSerial;
    if (!place.error.isEmpty()) {
        result.run.error = place.error;
        result.run.stage = RunStage::Link;
        result.run.expectedCrc32 = expected_crc32(plan.image->info);
    } else {
        QElapsedTimer sinceReport;
        RunEvents events;
        events.log = [&](const QString &line) { reporter.logged(spec.label, line); };
        events.stage = [&](RunStage stage) { reporter.staged(spec.label, stage); };
        events.progress = [&](int done, int total) {
            if (done < total && sinceReport.isValid()
                && sinceReport.elapsed() < PROGRESS_INTERVAL_MS)
                return;
            sinceReport.start();
            reporter.progressed(spec.label, done, total);
        };
        result.run = run_update(place.link, plan.flow, *plan.image, events, cancel);
        // The stage says where the cancel came; the words say that it was one, also during
        // identification, whose own words would blame the board.
        if (result.run.cancelled)
            result.run.error = CANCELLED;
    }
    if (plan.history && !plan.history->append(json_line(history_record(result, plan.facts))))
        reporter.logged(spec.label, QStringLiteral("could not append to the history file"));
    reporter.finished(result);
    return result;
}

} // namespace qvota::cli
