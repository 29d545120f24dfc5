// Output for people: time-stamped lines labelled with their board, then a summary table.
#pragma once

#include "reporter.h"

namespace qvota::cli {

std::unique_ptr<Reporter> make_human_reporter(const OutputOptions &options);

} // namespace qvota::cli
