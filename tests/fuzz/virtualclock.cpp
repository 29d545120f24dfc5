#include "virtualclock.h"

#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Thread-local so that the fuzzer's own timers on other threads keep real time.
thread_local bool virtualActive = false;
thread_local qint64 virtualNowMs = 0;

// A virtual zero at the epoch would look like an unset timer to some callers.
constexpr qint64 VIRTUAL_BASE_SECONDS = 100000;

bool is_monotonic(clockid_t clock)
{
    return clock == CLOCK_MONOTONIC || clock == CLOCK_MONOTONIC_RAW
           || clock == CLOCK_MONOTONIC_COARSE || clock == CLOCK_BOOTTIME;
}

qint64 to_ms(const timespec &ts)
{
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Sleeps shorter than a millisecond still have to move the clock, or a polling loop would spin.
qint64 to_ms_rounded_up(const timespec &ts)
{
    return qint64(ts.tv_sec) * 1000 + (ts.tv_nsec + 999999) / 1000000;
}

} // namespace

// The replacements forward to the kernel directly: the C library's own entry points are the
// ones being replaced, and the sanitizers' wrappers around them are weak and replaced as well.
extern "C" int clock_gettime(clockid_t clock, struct timespec *ts)
{
    if (virtualActive && is_monotonic(clock)) {
        const qint64 ms = virtualNowMs;
        ts->tv_sec = time_t(VIRTUAL_BASE_SECONDS + ms / 1000);
        ts->tv_nsec = long(ms % 1000) * 1000000;
        return 0;
    }
    return int(syscall(SYS_clock_gettime, clock, ts));
}

extern "C" int nanosleep(const struct timespec *request, struct timespec *remaining)
{
    if (virtualActive) {
        virtualNowMs += to_ms_rounded_up(*request);
        if (remaining)
            *remaining = timespec{};
        return 0;
    }
    return int(syscall(SYS_nanosleep, request, remaining));
}

extern "C" int clock_nanosleep(clockid_t clock, int flags, const struct timespec *request,
                               struct timespec *remaining)
{
    if (virtualActive && is_monotonic(clock)) {
        if (flags & TIMER_ABSTIME) {
            const qint64 target = to_ms_rounded_up(*request) - VIRTUAL_BASE_SECONDS * 1000;
            virtualNowMs = std::max(virtualNowMs, target);
        } else {
            virtualNowMs += to_ms_rounded_up(*request);
            if (remaining)
                *remaining = timespec{};
        }
        return 0;
    }
    // Unlike nanosleep, clock_nanosleep reports failure as its result, not through errno.
    const long result = syscall(SYS_clock_nanosleep, clock, flags, request, remaining);
    return result == 0 ? 0 : errno;
}

namespace qvota::fuzz {

qint64 VirtualClock::nowMs()
{
    return virtualNowMs;
}

void VirtualClock::advanceMs(qint64 ms)
{
    if (ms > 0)
        virtualNowMs += ms;
}

qint64 VirtualClock::realMs()
{
    timespec ts{};
    syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &ts);
    return to_ms(ts);
}

bool VirtualClock::takesEffect()
{
    const qint64 realStart = realMs();
    VirtualTimeScope scope;
    QElapsedTimer timer;
    timer.start();
    advanceMs(1234);
    if (timer.elapsed() != 1234)
        return false;
    QThread::msleep(5000);
    return timer.elapsed() == 6234 && nowMs() == 6234 && realMs() - realStart < 2500;
}

VirtualTimeScope::VirtualTimeScope()
{
    virtualNowMs = 0;
    virtualActive = true;
}

VirtualTimeScope::~VirtualTimeScope()
{
    virtualActive = false;
}

} // namespace qvota::fuzz
