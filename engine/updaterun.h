// One update of one board from start to end, as every front end runs it: build and open the
// link, run the flow, close the link, and say how it ended in a form a program can act on. The
// front ends keep only their wording (the lines that name the image and the link, the prefix of
// an error); the image is loaded and checked by them before, once, so many boards can share it.
#pragma once

#include "imagefile.h"
#include "linksettings.h"
#include "otaflow.h"

#include <QString>

#include <atomic>
#include <functional>
#include <optional>

namespace qvota {

// "link", "identify", "erase", "transfer", "rx-crc", "img-crc", "warm-boot", "done".
QString stage_name(RunStage stage);

struct RunEvents
{
    std::function<void()> linkOpened;                  // the link is open; the flow starts next
    std::function<void(const QString &line)> log;      // the flow's lines, without time stamp
    std::function<void(int done, int total)> progress; // frames acknowledged, frames in all
    std::function<void(RunStage stage)> stage;         // each phase of the flow as it begins
};

struct RunResult
{
    QString error; // empty after a verified update, else the message of the first failure
    RunStage stage = RunStage::Link;
    bool cancelled = false;     // ended by the cancel flag, not by the board or the link
    qint64 bytes = 0;           // payload bytes the board acknowledged
    double seconds = 0;         // from opening the link to closing it
    double transferSeconds = 0; // the frames alone, once they were all acknowledged
    quint32 expectedCrc32 = 0;  // the container's
    std::optional<quint32> rxCrc32;  // what the board reported, when it did
    std::optional<quint32> imgCrc32;
    QString warmBootAnswer;     // the board's answer line, empty when none was seen

    bool ok() const { return error.isEmpty(); }
};

// Runs one update of image over a link built from link, with flow's retries, target and warm
// boot (its expected CRC is taken from the image). Blocks the calling thread; a set cancel flag
// ends every wait within about 100 ms. Empty events are skipped.
RunResult run_update(const LinkSettings &link, const OtaConfig &flow, const Image &image,
                     const RunEvents &events, const std::atomic_bool *cancel);

} // namespace qvota
