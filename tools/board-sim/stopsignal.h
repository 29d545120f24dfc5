// SIGINT and SIGTERM end "serve" cleanly: the handler only raises a flag (and, on POSIX,
// wakes poll through a self-pipe), and the serving loop leaves at its next wait.
#pragma once

#include <chrono>

namespace qvota::sim {

class StopSignal
{
public:
    using Clock = std::chrono::steady_clock;

    // Installs the handlers; there is one instance per process.
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal &) = delete;
    StopSignal &operator=(const StopSignal &) = delete;

    bool requested() const;
    // Sleeps until deadline; returns false early when a stop is requested.
    bool sleepUntil(Clock::time_point deadline) const;
    // Readable once a stop is requested (POSIX), else -1.
    int fd() const;
};

} // namespace qvota::sim
