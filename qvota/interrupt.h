// Ctrl-C and SIGTERM ask every board to stop: the handlers only set a flag that the board
// threads' links poll, so results and the summary are still written before the process ends.
#pragma once

#include <atomic>

namespace qvota::cli {

// Installs the handlers; a second signal of the same kind ends the process at once, for an
// operator who does not want to wait. A closed output pipe no longer ends the process.
void install_interrupt_handlers();

// Set once a signal arrived.
const std::atomic_bool &interrupt_flag();

inline bool interrupted()
{
    return interrupt_flag().load();
}

} // namespace qvota::cli
