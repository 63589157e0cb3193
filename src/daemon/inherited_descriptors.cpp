#include "daemon/inherited_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace quorin {

namespace {

// A closed standard descriptor would go to the next open, such as the I/O
// context's own, and the redirect at detaching would then close that. The
// descriptors are checked in order, so the one closed is the lowest free
// number and /dev/null takes it. Without /dev/null nothing can be done.
void openClosedStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF)
            (void)open("/dev/null", O_RDWR);
    }
}

// A caller that reads a pipe the daemon inherited (a command substitution,
// a supervisor's pipe) would otherwise wait for the daemon's whole life.
void closeInheritedDescriptors()
{
    constexpr int kFirst = STDERR_FILENO + 1;
    if (close_range(kFirst, ~0U, 0) == 0)
        return;
    // Kernels before 5.9 have no close_range.
    const long end = sysconf(_SC_OPEN_MAX);
    for (long fd = kFirst; fd < end; ++fd)
        close(static_cast<int>(fd));
}

}  // namespace

void settleInheritedDescriptors()
{
    openClosedStandardDescriptors();
    closeInheritedDescriptors();
}

}  // namespace quorin
