#include "interrupt.h"

#include <QtGlobal>

#include <csignal>

namespace qvota::cli {

namespace {

// A handler may only touch lock-free atomics.
static_assert(std::atomic_bool::is_always_lock_free);
std::atomic_bool g_interrupted{false};

extern "C" void on_signal(int)
{
    g_interrupted.store(true);
}

} // namespace

void install_interrupt_handlers()
{
#ifdef Q_OS_WIN
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
#else
    struct sigaction action{};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A reader that closes its end of the pipe (`qvota flash --json | head`) must not kill
    // boards in the middle of their updates; the output is simply lost.
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

const std::atomic_bool &interrupt_flag()
{
    return g_interrupted;
}

} // namespace qvota::cli
