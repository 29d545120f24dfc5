// One update of one board from start to end, as every front end runs it: build and open the
// link, run the flow, close the link, and say how it ended in a form a program can act on. The
// front ends keep only their wording (the lines that name the image and the link, the prefix of
// an error); the image is loaded and checked by them before, once, so many boards can share it.
#pragma once

#include "imagefile.h"
#include "linksettings.h"
#include "otaflow.h"

#include <QString>

namespace qvota {

// Everything one run needs. The front ends fill it through read_run_settings (settingscheck.h)
// from what the user gave, and load the image into it.
struct RunRequest
{
    LinkSettings link;
    OtaConfig flow; // its expected CRC is the image's, set by run_update
    Image image;
};

// "link", "identify", "erase", "transfer", "rx-crc", "img-crc", "warm-boot", "done".
QString stage_name(RunStage stage);

// A flow's result, with the stage Link when the link did not open.
struct RunResult : FlowResult
{
    double seconds = 0; // from opening the link to closing it
};

// Runs one update over a link built from the request. Blocks the calling thread; a set cancel
// flag (callbacks.cancel) ends every wait within about 100 ms. Empty callbacks are skipped.
RunResult run_update(const RunRequest &request, const OtaCallbacks &callbacks);

} // namespace qvota
