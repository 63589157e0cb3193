#include "daemon/stop_signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <boost/system/system_error.hpp>

#include <cerrno>
#include <cstdint>

namespace quorin {

namespace {

// Set once, before the handlers exist and before any thread starts.
int stopDescriptor = -1;

void throwLastError(const char* what)
{
    throw boost::system::system_error(errno, boost::system::system_category(), what);
}

// The eventfd is never read: once written it stays readable. A counter
// already at its maximum is readable too, so a failed write loses nothing.
void markStop()
{
    const std::uint64_t one = 1;
    if (write(stopDescriptor, &one, sizeof one) < 0) {
        // Nothing to do about it, even outside a handler; see above.
    }
}

extern "C" void noteStopSignal(int /*signal*/)
{
    const int saved = errno;
    markStop();
    errno = saved;
}

}  // namespace

// SA_RESTART: a signal taken by the I/O thread must not fail its calls.
void installStopSignalHandlers()
{
    stopDescriptor = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopDescriptor < 0)
        throwLastError("eventfd");
    struct sigaction action = {};
    action.sa_handler = noteStopSignal;
    action.sa_flags = SA_RESTART;
    sigset_t signals;
    sigemptyset(&action.sa_mask);
    sigemptyset(&signals);
    for (const int signal : {SIGTERM, SIGINT}) {
        if (sigaction(signal, &action, nullptr) < 0)
            throwLastError("sigaction");
        sigaddset(&signals, signal);
    }
    const int error = pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    if (error != 0)
        throw boost::system::system_error(error, boost::system::system_category(),
                                          "pthread_sigmask");
}

void requestStop()
{
    if (stopDescriptor >= 0)
        markStop();
}

int stopSignalDescriptor()
{
    return stopDescriptor;
}

// A poll that fails sees no stop this time; the caller asks again later.
bool stopSignalReceived()
{
    if (stopDescriptor < 0)
        return false;
    pollfd stop = {stopDescriptor, POLLIN, 0};
    return poll(&stop, 1, 0) > 0;
}

}  // namespace quorin
