// poll() against a deadline, at the resolution that UART pacing needs.
#pragma once

#include <chrono>
#include <initializer_list>
#include <vector>

#include <poll.h>

namespace qvota::sim {

using Clock = std::chrono::steady_clock;

// Waits until an fd in fds has one of its requested events or deadline passes, and returns
// what poll() returns. Clock::time_point::max() waits without limit.
int poll_until(std::vector<pollfd> &fds, Clock::time_point deadline);

// Convenience for waiting on readability of a few descriptors.
int wait_readable(std::initializer_list<int> fds, Clock::time_point deadline);

} // namespace qvota::sim
