#include "backlight/control_file_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <syslog.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "backlight/control_file_open.h"

namespace quorin {

namespace {

constexpr const char* kControlDirectory = "/tmp";
constexpr const char* kControlName = "backlight";

using Clock = std::chrono::steady_clock;

// Truncating and writing the file both count as a change: what a shell's
// "echo 50 > /tmp/backlight" does. /proc/self/fd names the open file
// itself, whatever its name in /tmp has become.
int watchOpenFile(int inotifyFd, int controlFd)
{
    const std::string path = "/proc/self/fd/" + std::to_string(controlFd);
    return inotify_add_watch(inotifyFd, path.c_str(), IN_MODIFY);
}

int watchingInotify(int controlFd, int openError, int& fileWatch)
{
    if (controlFd < 0) {
        errno = openError;
        return -1;
    }
    const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return -1;
    fileWatch = watchOpenFile(fd, controlFd);
    if (fileWatch < 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

ControlFileWatch::ControlFileWatch(int controlFd, int openError, int stopFd, int screenFd)
    : inotifyFd(watchingInotify(controlFd, openError, fileWatch)),
      stopFd(stopFd),
      screenFd(screenFd)
{
    if (inotifyFd < 0) {
        syslog(LOG_USER | LOG_ERR, "Control file not watched: %m; polling it every 1400 us");
        return;
    }
    // Without it a file renamed over the name is found at the idle turn.
    directoryWatch =
        inotify_add_watch(inotifyFd, kControlDirectory, IN_CREATE | IN_MOVED_TO | IN_ONLYDIR);
}

ControlFileWatch::~ControlFileWatch()
{
    if (inotifyFd >= 0)
        close(inotifyFd);
}

void ControlFileWatch::follow(int controlFd)
{
    if (inotifyFd < 0)
        return;
    if (fileWatch >= 0)
        inotify_rm_watch(inotifyFd, fileWatch);
    fileWatch = watchOpenFile(inotifyFd, controlFd);
}

// The events are taken before the turn reads the file, so that a change
// made while it reads wakes the next turn. Files of other names made in
// the directory do not end the sleep. A poll that fails for another
// reason than a signal pauses as the plain daemon does, rather than spin.
void ControlFileWatch::wait()
{
    if (inotifyFd < 0) {
        usleep(kControlPollPause);
        return;
    }
    const Clock::time_point deadline = Clock::now() + kBacklightIdleTurn;
    for (;;) {
        pollfd ready[3] = {{inotifyFd, POLLIN, 0}, {stopFd, POLLIN, 0}, {screenFd, POLLIN, 0}};
        const int count = poll(ready, 3, millisecondsUntil(deadline));
        if (count < 0 && errno != EINTR)
            usleep(kControlPollPause);
        if (takeEvents() || count <= 0 || ready[1].revents != 0 || ready[2].revents != 0)
            return;
    }
}

// Whether any event taken concerns the control file. The queue is
// non-blocking: the first refused read means it is empty.
bool ControlFileWatch::takeEvents()
{
    alignas(inotify_event) char events[4 * (sizeof(inotify_event) + NAME_MAX + 1)];
    bool relevant = false;
    ssize_t got = 0;
    while ((got = read(inotifyFd, events, sizeof events)) > 0) {
        for (ssize_t at = 0; at < got;) {
            inotify_event event{};
            std::memcpy(&event, events + at, sizeof event);
            const char* name = events + at + sizeof event;
            relevant = relevant || event.wd != directoryWatch ||
                       (event.len > 0 && std::strcmp(name, kControlName) == 0);
            at += static_cast<ssize_t>(sizeof event + event.len);
        }
    }
    return relevant;
}

}  // namespace quorin
