#include "daemon/plain_file.h"

#include <unistd.h>

#include <cerrno>

namespace quorin {

int plainFileRefusal(int fd)
{
    struct stat status;
    if (fstat(fd, &status) < 0)
        return errno;
    return plainFileRefusal(status);
}

int plainFileRefusal(const struct stat& named)
{
    if (S_ISLNK(named.st_mode))
        return ELOOP;
    if (!S_ISREG(named.st_mode))
        return EINVAL;
    return named.st_nlink == 1 ? 0 : EMLINK;
}

int keepUnlessRefused(int fd, int refusal)
{
    if (refusal == 0)
        return fd;
    close(fd);
    errno = refusal;
    return -1;
}

}  // namespace quorin
