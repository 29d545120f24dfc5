#include "updaterun.h"

#include <QElapsedTimer>

namespace qvota {

QString stage_name(RunStage stage)
{
    // In the order of RunStage.
    static const char *const names[] = {"link",   "identify", "erase",     "transfer",
                                        "rx-crc", "img-crc",  "warm-boot", "done"};
    return QString::fromLatin1(names[int(stage)]);
}

RunResult run_update(const RunRequest &request, const OtaCallbacks &callbacks)
{
    QElapsedTimer clock;
    clock.start();
    RunResult result;
    result.stage = RunStage::Link;
    result.expectedCrc32 = request.image.info.crc32;

    const std::unique_ptr<Link> link = make_link(request.link);
    link->setCancelFlag(callbacks.cancel);
    if (Expected<void> opened = link->open(); !opened) {
        result.failure = opened.failure();
        result.seconds = double(clock.nsecsElapsed()) / 1e9;
        return result;
    }
    OtaConfig config = request.flow;
    config.expectedCrc32 = request.image.info.crc32;
    static_cast<FlowResult &>(result) =
        run_update_flow_result(*link, request.image.bytes, config, callbacks);
    link->close();
    result.seconds = double(clock.nsecsElapsed()) / 1e9;
    return result;
}

} // namespace qvota
