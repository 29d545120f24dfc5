#include "updatejob.h"

#include "imagefile.h"
#include "updaterun.h"

namespace qvota {

QString run_update_job(const QVariantMap &cfg, const std::atomic_bool *cancel,
                       const UpdateJobReport &report)
{
    const auto log = [&report](const QString &line) {
        if (report.log)
            report.log(line);
    };
    const StartSettings settings = read_start_settings(cfg);
    Image image;
    if (QString error; !load_image(settings.file, &image, &error))
        return error;
    log(QStringLiteral("qvbit v2 OK: plain=%1 container=%2 crc32=%3 (on-chip decrypt)")
            .arg(QString::number(image.info.value(QStringLiteral("size")).toLongLong()),
                 QString::number(image.info.value(QStringLiteral("containerSize")).toLongLong()),
                 image.info.value(QStringLiteral("crc32")).toString()));
    // As on the command line: the image first, then the fields, before any port is touched.
    if (QString problem = start_settings_problem(cfg); !problem.isEmpty())
        return problem;
    log(link_log_line(settings));

    RunEvents events;
    events.linkOpened = [&] {
        log(QStringLiteral("file=%1").arg(settings.file));
        if (report.status)
            report.status(QStringLiteral("running"));
    };
    events.log = report.log;
    events.progress = report.progress;
    return run_update(settings, make_ota_config(settings, image.info), image, events, cancel)
        .error;
}

} // namespace qvota
