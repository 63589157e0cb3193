#include "calibrate/signal_watch.h"

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "calibrate/system_error.h"

namespace quorin::calibrate {

SignalWatch::SignalWatch()
{
    sigset_t stopping;
    sigemptyset(&stopping);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaddset(&stopping, signal);
    const int error = pthread_sigmask(SIG_BLOCK, &stopping, &previous);
    if (error != 0) {
        errno = error;
        throwErrno("pthread_sigmask");
    }
    descriptor = signalfd(-1, &stopping, SFD_NONBLOCK | SFD_CLOEXEC);
    if (descriptor < 0) {
        const int failure = errno;
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        errno = failure;
        throwErrno("signalfd");
    }
}

SignalWatch::~SignalWatch()
{
    close(descriptor);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

int SignalWatch::take() const
{
    signalfd_siginfo info{};
    if (read(descriptor, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
        return 0;
    return static_cast<int>(info.ssi_signo);
}

}  // namespace quorin::calibrate
