#include "daemon/stop_signals.h"

#include <signal.h>

#include <atomic>

namespace quorin {

namespace {

// Lock-free, so setting it in a handler is async-signal-safe, and the
// backlight thread may read it while any thread takes the signal.
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void noteStopSignal(int /*signal*/)
{
    stopRequested.store(true, std::memory_order_relaxed);
}

}  // namespace

// SA_RESTART: a signal taken by the I/O thread must not fail its calls.
void installStopSignalHandlers()
{
    struct sigaction action = {};
    action.sa_handler = noteStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

bool stopSignalReceived()
{
    return stopRequested.load(std::memory_order_relaxed);
}

}  // namespace quorin
