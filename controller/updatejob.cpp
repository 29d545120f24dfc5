#include "updatejob.h"

#include "imagefile.h"
#include "otaflow.h"

namespace qvota {

QString run_update_job(const StartSettings &settings, const std::atomic_bool *cancel,
                       const UpdateJobReport &report)
{
    const auto log = [&report](const QString &line) {
        if (report.log)
            report.log(line);
    };
    Image image;
    if (QString error; !load_image(settings.file, &image, &error))
        return error;
    log(QStringLiteral("qvbit v2 OK: plain=%1 container=%2 crc32=%3 (on-chip decrypt)")
            .arg(QString::number(image.info.value(QStringLiteral("size")).toLongLong()),
                 QString::number(image.info.value(QStringLiteral("containerSize")).toLongLong()),
                 image.info.value(QStringLiteral("crc32")).toString()));
    const OtaConfig config = make_ota_config(settings, image.info);

    log(link_log_line(settings));
    const std::unique_ptr<Link> link = make_link(settings);
    if (QString error; !link->open(&error))
        return error;

    log(QStringLiteral("file=%1").arg(settings.file));
    OtaCallbacks callbacks;
    callbacks.log = report.log;
    callbacks.progress = report.progress;
    callbacks.cancel = cancel;
    if (report.status)
        report.status(QStringLiteral("running"));
    const QString error = run_update_flow(*link, image.bytes, config, callbacks);
    link->close();
    return error;
}

} // namespace qvota
