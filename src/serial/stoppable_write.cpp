#include "serial/stoppable_write.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <boost/system/system_error.hpp>

#include <cerrno>

namespace quorin {

namespace {

[[noreturn]] void throwWriteError(int error)
{
    throw boost::system::system_error(error, boost::system::system_category(), "write");
}

// True when the stop came first. EINTR is a stop signal taken on this
// thread: the next poll sees its descriptor readable. A line that hangs
// up shows as writable, and the write then reports why.
bool stopBeforeLine(int fd, int stopFd)
{
    pollfd ready[2] = {{fd, POLLOUT, 0}, {stopFd, POLLIN, 0}};
    while (poll(ready, 2, -1) < 0) {
        if (errno != EINTR)
            throwWriteError(errno);
    }
    return (ready[1].revents & POLLIN) != 0;
}

}  // namespace

void makeNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        throw boost::system::system_error(errno, boost::system::system_category(), "fcntl");
}

bool writeUnlessStopped(int fd, const unsigned char* bytes, std::size_t size, int stopFd)
{
    std::size_t written = 0;
    while (written < size) {
        const ssize_t count = write(fd, bytes + written, size - written);
        if (count > 0) {
            written += static_cast<std::size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            throwWriteError(errno);
        if (stopBeforeLine(fd, stopFd))
            return false;
    }
    return true;
}

}  // namespace quorin
