#include "backlight/control_file_open.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "daemon/plain_file.h"

namespace quorin {

int openControlFileByName(const char* path, bool create, FileId* id)
{
    const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (create ? O_CREAT : 0);
    const int fd = open(path, flags, 0666);
    if (fd < 0)
        return -1;
    struct stat status;
    const int refusal = fstat(fd, &status) < 0 ? errno : plainFileRefusal(status);
    if (refusal == 0)
        *id = {status.st_dev, status.st_ino};
    return keepUnlessRefused(fd, refusal);
}

}  // namespace quorin
