// What the two kinds of output say alike: the words for a slot's state and a board's result,
// and whether live lines are drawn.
#pragma once

#include "livelines.h"
#include "reporter.h"

#include <memory>

namespace qvota::cli {

// Live lines on stderr, or none when it is no terminal or the output is quiet.
std::unique_ptr<LiveLines> live_lines_for(const OutputOptions &options);

// "waiting for a board", "board answers", "board gone".
QString state_text(SlotState state);

// The JSON event of a slot state: "waiting", "arrived", "gone".
QString event_name(SlotState state);

// "verified in 3.2 s", "failed at img-crc after 3.2 s: MESSAGE", "cancelled at transfer after ...".
QString result_text(const BoardResult &result);

} // namespace qvota::cli
