#include "posixwait.h"

#include <QtGlobal>

#include <cerrno>
#include <ctime>

namespace qvota::sim {

namespace {

// A timed wake-up on a virtual machine lands 100 to 200 us late even with a minimal timer
// slack. A UART's receiver has no such lag, so the last stretch before a deadline is waited
// out on the clock instead: at 921600 baud a frame is 2.85 ms on the wire, and two such
// wake-ups per frame would cost the simulated link a tenth of its speed. The spin is bounded
// by this margin, so the simulator's CPU use stays a small fraction of the wire time.
constexpr auto PRECISE_MARGIN = std::chrono::microseconds(250);

int poll_once(std::vector<pollfd> &fds, Clock::time_point deadline)
{
    for (;;) {
        int result = 0;
        if (deadline == Clock::time_point::max()) {
            result = ::poll(fds.data(), nfds_t(fds.size()), -1);
        } else {
            const auto left = std::max(Clock::duration::zero(), deadline - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
#ifdef Q_OS_LINUX
            // Millisecond poll() would add up to 1 ms to every paced byte burst: at 921600 baud
            // that is a third of a frame's wire time.
            const timespec timeout{time_t(ns / 1000000000), long(ns % 1000000000)};
            result = ::ppoll(fds.data(), nfds_t(fds.size()), &timeout, nullptr);
#else
            result = ::poll(fds.data(), nfds_t(fds.size()), int((ns + 999999) / 1000000));
#endif
        }
        if (result >= 0 || errno != EINTR)
            return result;
    }
}

} // namespace

int poll_until(std::vector<pollfd> &fds, Clock::time_point deadline)
{
    if (deadline == Clock::time_point::max())
        return poll_once(fds, deadline);
    const int result = poll_once(fds, deadline - PRECISE_MARGIN);
    if (result != 0)
        return result;
    while (Clock::now() < deadline) {
        // Still looks at the descriptors, without sleeping, so an event is not held back.
        const int ready = ::poll(fds.data(), nfds_t(fds.size()), 0);
        if (ready != 0)
            return ready;
    }
    return 0;
}

int wait_readable(std::initializer_list<int> fds, Clock::time_point deadline)
{
    std::vector<pollfd> polled;
    for (const int fd : fds)
        polled.push_back(pollfd{fd, POLLIN, 0});
    return poll_until(polled, deadline);
}

} // namespace qvota::sim
