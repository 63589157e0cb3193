#include "daemon/log_file.h"

#include <fcntl.h>

#include <cerrno>

#include "daemon/plain_file.h"

namespace quorin {

// Non-blocking so that a FIFO without a reader fails at once instead of
// holding the start for ever; the descriptor blocks again once it is known
// to be a plain file.
int openLogFile(const char* path)
{
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0)
        return -1;
    int refusal = plainFileRefusal(fd);
    if (refusal == 0 && fcntl(fd, F_SETFL, O_APPEND) < 0)
        refusal = errno;
    return keepUnlessRefused(fd, refusal);
}

}  // namespace quorin
