#include "updatejob.h"

#include "imagefile.h"
#include "runlines.h"
#include "startconfig.h"

namespace qvota {

Expected<void> run_update_job(const QVariantMap &cfg, const OtaCallbacks &callbacks)
{
    const auto log = [&callbacks](const QString &line) {
        if (callbacks.log)
            callbacks.log(line);
    };
    const QString path = cfg.value(QStringLiteral("file")).toString();
    Expected<Image> image = load_image(path);
    if (!image)
        return image.failure();
    log(container_line(image->info, true));
    // As on the command line: the image first, then the fields, before any port is touched.
    Expected<RunRequest> request = read_start_request(cfg);
    if (!request)
        return request.failure();
    log(link_line(start_texts(cfg)));

    RunRequest run = std::move(request).value();
    run.image = std::move(image).value();
    OtaCallbacks job = callbacks;
    job.stage = [&](RunStage stage) {
        if (stage == RunStage::Identify)
            log(file_line(path));
        if (callbacks.stage)
            callbacks.stage(stage);
    };
    const RunResult result = run_update(run, job);
    if (!result.ok())
        return *result.failure;
    return {};
}

} // namespace qvota
