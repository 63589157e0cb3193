#include "calibrate/signal_watch.h"

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
    checked(sigprocmask(SIG_BLOCK, &stopping, &previous), "sigprocmask");
    descriptor = signalfd(-1, &stopping, SFD_NONBLOCK | SFD_CLOEXEC);
    if (descriptor < 0) {
        const int error = errno;
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        errno = error;
        throwErrno("signalfd");
    }
}

SignalWatch::~SignalWatch()
{
    close(descriptor);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

int SignalWatch::take() const
{
    signalfd_siginfo info{};
    if (read(descriptor, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
        return 0;
    return static_cast<int>(info.ssi_signo);
}

}  // namespace quorin::calibrate
