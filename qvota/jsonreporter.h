// JSON Lines on stdout: one object per event, flushed at once, and nothing else there.
#pragma once

#include "reporter.h"

namespace qvota::cli {

std::unique_ptr<Reporter> make_json_reporter(const OutputOptions &options);

} // namespace qvota::cli
