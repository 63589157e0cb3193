#include "daemon/plain_file.h"

#include <sys/stat.h>

#include <cerrno>

namespace quorin {

int plainFileRefusal(int fd)
{
    struct stat status;
    if (fstat(fd, &status) < 0)
        return errno;
    if (!S_ISREG(status.st_mode))
        return EINVAL;
    return status.st_nlink == 1 ? 0 : EMLINK;
}

}  // namespace quorin
