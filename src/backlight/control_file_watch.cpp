#include "backlight/control_file_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <syslog.h>

#include <cerrno>
#include <climits>
#include <string>

namespace quorin {

namespace {

// Truncating and writing the file both count as a change: what a shell's
// "echo 50 > /tmp/backlight" does. /proc/self/fd names the open file
// itself, whatever its name in /tmp has become.
int watchOpenFile(int controlFd, int openError)
{
    if (controlFd < 0) {
        errno = openError;
        return -1;
    }
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return -1;
    const std::string path = "/proc/self/fd/" + std::to_string(controlFd);
    if (inotify_add_watch(fd, path.c_str(), IN_MODIFY) < 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

ControlFileWatch::ControlFileWatch(int controlFd, int openError, int stopFd,
                                   std::chrono::microseconds idleTurn)
    : inotifyFd(watchOpenFile(controlFd, openError)),
      stopFd(stopFd),
      timeoutMs(static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(idleTurn).count()))
{
    if (inotifyFd < 0)
        syslog(LOG_USER | LOG_ERR, "Control file not watched: %m; polling it every 1400 us");
}

ControlFileWatch::~ControlFileWatch()
{
    if (inotifyFd >= 0)
        close(inotifyFd);
}

// The events are discarded before the turn reads the file, so that a
// change made while it reads wakes the next turn. A poll that fails for
// another reason than a signal pauses as the plain daemon does, rather
// than spin.
void ControlFileWatch::wait()
{
    if (inotifyFd < 0) {
        usleep(kControlPollPause);
        return;
    }
    pollfd ready[2] = {{inotifyFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    if (poll(ready, 2, timeoutMs) < 0 && errno != EINTR)
        usleep(kControlPollPause);
    discardEvents();
}

// The queue is non-blocking: the first refused read means it is empty.
void ControlFileWatch::discardEvents()
{
    alignas(inotify_event) char events[4 * (sizeof(inotify_event) + NAME_MAX + 1)];
    while (read(inotifyFd, events, sizeof events) > 0) {
    }
}

}  // namespace quorin
