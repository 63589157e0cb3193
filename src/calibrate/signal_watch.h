#pragma once

#include <signal.h>

namespace quorin::calibrate {

// SIGINT, SIGTERM, SIGHUP and SIGQUIT blocked and read from a signalfd,
// so that a signal ends the run through the same path as Escape: every
// destructor runs, the console's mode and the terminal are put back. The
// mask goes back as it was when destroyed.
class SignalWatch {
public:
    SignalWatch();
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    int fd() const { return descriptor; }
    // The signal that arrived, 0 if none.
    int take() const;

private:
    int descriptor = -1;
    sigset_t previous{};
};

}  // namespace quorin::calibrate
