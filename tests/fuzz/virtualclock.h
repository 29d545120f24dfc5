// Virtual time for the update-flow fuzz target. The flow measures its windows with QElapsedTimer
// and pauses with QThread::msleep; both end in the C library's clock_gettime and nanosleep, which
// this executable defines itself. Inside a VirtualTimeScope the calling thread sees a monotonic
// clock that moves only when the fake board charges a wait or the flow sleeps, so every deadline
// of the flow runs at full length without costing real time. Other threads and code outside a
// scope see the real clocks.
#pragma once

#include <QtGlobal>

namespace qvota::fuzz {

class VirtualClock
{
public:
    // Milliseconds since the current scope began.
    static qint64 nowMs();
    static void advanceMs(qint64 ms);
    // Milliseconds of real monotonic time, for the wall-time bound; never virtual.
    static qint64 realMs();
    // False when the Qt in use does not take its time from the functions replaced here: then
    // deadlines would run in real time and the fuzz target would silently test nothing of them.
    static bool takesEffect();
};

// Switches the calling thread to virtual time, starting at zero, for the scope's lifetime.
class VirtualTimeScope
{
public:
    VirtualTimeScope();
    ~VirtualTimeScope();
    VirtualTimeScope(const VirtualTimeScope &) = delete;
    VirtualTimeScope &operator=(const VirtualTimeScope &) = delete;
};

} // namespace qvota::fuzz
