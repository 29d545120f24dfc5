#include "updaterun.h"

#include <QElapsedTimer>

namespace qvota {

QString stage_name(RunStage stage)
{
    switch (stage) {
    case RunStage::Link:
        return QStringLiteral("link");
    case RunStage::Identify:
        return QStringLiteral("identify");
    case RunStage::Erase:
        return QStringLiteral("erase");
    case RunStage::Transfer:
        return QStringLiteral("transfer");
    case RunStage::RxCrc:
        return QStringLiteral("rx-crc");
    case RunStage::ImgCrc:
        return QStringLiteral("img-crc");
    case RunStage::WarmBoot:
        return QStringLiteral("warm-boot");
    case RunStage::Done:
        break;
    }
    return QStringLiteral("done");
}

RunResult run_update(const LinkSettings &linkSettings, const OtaConfig &flow, const Image &image,
                     const RunEvents &events, const std::atomic_bool *cancel)
{
    QElapsedTimer clock;
    clock.start();
    RunResult result;
    result.expectedCrc32 = expected_crc32(image.info);

    const std::unique_ptr<Link> link = make_link(linkSettings);
    link->setCancelFlag(cancel);
    if (QString error; !link->open(&error)) {
        result.error = error;
        result.cancelled = cancel && cancel->load() && error == CANCELLED;
        result.seconds = double(clock.nsecsElapsed()) / 1e9;
        return result;
    }
    if (events.linkOpened)
        events.linkOpened();

    OtaConfig config = flow;
    config.expectedCrc32 = result.expectedCrc32;
    OtaCallbacks callbacks;
    callbacks.log = events.log;
    callbacks.progress = events.progress;
    callbacks.stage = events.stage;
    callbacks.cancel = cancel;
    const FlowResult outcome = run_update_flow_result(*link, image.bytes, config, callbacks);
    link->close();

    result.error = outcome.error;
    result.stage = outcome.stage;
    result.cancelled = outcome.cancelled;
    result.bytes = outcome.bytesAcked;
    result.transferSeconds = outcome.transferSeconds;
    result.rxCrc32 = outcome.rxCrc32;
    result.imgCrc32 = outcome.imgCrc32;
    result.warmBootAnswer = outcome.warmBootAnswer;
    result.seconds = double(clock.nsecsElapsed()) / 1e9;
    return result;
}

} // namespace qvota
