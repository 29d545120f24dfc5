#include "posixwait.h"

#include <QtGlobal>

#include <cerrno>
#include <ctime>

namespace qvota::sim {

int poll_until(std::vector<pollfd> &fds, Clock::time_point deadline)
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

int wait_readable(std::initializer_list<int> fds, Clock::time_point deadline)
{
    std::vector<pollfd> polled;
    for (const int fd : fds)
        polled.push_back(pollfd{fd, POLLIN, 0});
    return poll_until(polled, deadline);
}

} // namespace qvota::sim
