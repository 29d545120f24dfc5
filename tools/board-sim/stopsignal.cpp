#include "stopsignal.h"

#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>

#ifdef Q_OS_UNIX
#    include "posixwait.h"

#    include <fcntl.h>
#    include <unistd.h>
#endif

namespace qvota::sim {

namespace {

// A signal handler can reach nothing but static state; these two are all it touches.
std::atomic_bool g_stopRequested{false};
#ifdef Q_OS_UNIX
int g_wakeFds[2] = {-1, -1};
#endif

extern "C" void on_stop_signal(int)
{
    g_stopRequested.store(true);
#ifdef Q_OS_UNIX
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(g_wakeFds[1], &byte, 1);
#endif
}

} // namespace

StopSignal::StopSignal()
{
#ifdef Q_OS_UNIX
    if (::pipe(g_wakeFds) == 0) {
        for (const int fd : g_wakeFds) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // A host that vanishes must not kill the simulator through a write on a dead pty.
    ::signal(SIGPIPE, SIG_IGN);
#else
    std::signal(SIGINT, on_stop_signal);
    std::signal(SIGTERM, on_stop_signal);
#endif
}

StopSignal::~StopSignal()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
#ifdef Q_OS_UNIX
    for (int &fd : g_wakeFds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
#endif
}

bool StopSignal::requested() const
{
    return g_stopRequested.load();
}

bool StopSignal::sleepUntil(Clock::time_point deadline) const
{
#ifdef Q_OS_UNIX
    while (!requested() && Clock::now() < deadline)
        wait_readable({fd()}, deadline);
#else
    constexpr auto slice = std::chrono::milliseconds(20);
    while (!requested() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::min<Clock::duration>(slice, deadline - Clock::now()));
#endif
    return !requested();
}

int StopSignal::fd() const
{
#ifdef Q_OS_UNIX
    return g_wakeFds[0];
#else
    return -1;
#endif
}

} // namespace qvota::sim
