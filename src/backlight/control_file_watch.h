#pragma once

#include <unistd.h>

#include <chrono>

namespace quorin {

// The plain daemon's pause between two reads of the control file.
constexpr useconds_t kControlPollPause = 1400;

// The service mode's longest sleep: a turn a minute, only in case a
// change of the control file ever escaped its watch. The watchdog needs
// no turn: a loop asleep here is alive.
constexpr std::chrono::minutes kBacklightIdleTurn{1};

// The service mode's sleep between two turns of the backlight loop: until
// the control file changes, a new file of its name appears in its
// directory (made anew, or renamed over it), a stop signal comes, the
// screen the backlight follows changes (screenFd readable) or the idle
// turn is due. The file is watched through the descriptor the loop
// reads, so it is the same file even after its name has gone to another;
// follow() moves the watch to the file the loop takes up instead.
class ControlFileWatch {
public:
    // Where the file cannot be watched (no descriptor, whose open failed
    // with openError; no inotify; the watch refused) wait() pauses as the
    // plain daemon does; that is logged once, here.
    ControlFileWatch(int controlFd, int openError, int stopFd, int screenFd);
    ~ControlFileWatch();
    ControlFileWatch(const ControlFileWatch&) = delete;
    ControlFileWatch& operator=(const ControlFileWatch&) = delete;

    void wait();
    void follow(int controlFd);

private:
    bool takeEvents();

    int inotifyFd = -1;
    int fileWatch = -1;
    int directoryWatch = -1;
    const int stopFd;
    const int screenFd;
};

}  // namespace quorin
