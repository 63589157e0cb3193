#include "daemon/log_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quorin {

namespace {

// The errno to refuse the open file with, or 0 when it is a regular file
// with a single link.
int refusalOf(int fd)
{
    struct stat status;
    if (fstat(fd, &status) < 0)
        return errno;
    if (!S_ISREG(status.st_mode))
        return EINVAL;
    return status.st_nlink == 1 ? 0 : EMLINK;
}

}  // namespace

// Non-blocking so that a FIFO without a reader fails at once instead of
// holding the start for ever; the descriptor blocks again once it is known
// to be a plain file.
int openLogFile(const char* path)
{
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0)
        return -1;
    int refusal = refusalOf(fd);
    if (refusal == 0 && fcntl(fd, F_SETFL, O_APPEND) < 0)
        refusal = errno;
    if (refusal != 0) {
        close(fd);
        errno = refusal;
        return -1;
    }
    return fd;
}

}  // namespace quorin
