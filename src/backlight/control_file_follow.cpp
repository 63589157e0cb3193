#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>

#include "backlight/control_file_open.h"
#include "daemon/plain_file.h"
#include "daemon/quorin_daemon.h"

namespace quorin {

// A writer that replaces the control file (renames a new one over it, or
// removes it and makes it anew) leaves the held descriptor on a file that
// no name leads to, and its requests would be lost. So each turn looks
// the name up: another file there is taken up with the same safety as at
// the start, but not emptied, since the text it holds is the request. A
// link, a FIFO or a second name put there is refused, once, and the held
// file kept. Returns whether another file was taken up.
bool QuorinDaemon::followControlFileName()
{
    struct stat named;
    if (lstat(kControlFile, &named) < 0)
        return false;
    const FileId id{named.st_dev, named.st_ino};
    if (backlightFd >= 0 && id == controlFileId)
        return false;
    FileId opened;
    const int refusal = plainFileRefusal(named);
    const int fd = refusal != 0 ? -1 : openControlFileByName(kControlFile, false, &opened);
    if (fd >= 0 && opened == id) {
        closeControlFile();
        backlightFd = fd;
        controlFileId = id;
        controlRefusedId = {};
        return true;
    }
    // Replaced or removed again between the look and the open: the next
    // turn looks anew.
    if (fd >= 0 || errno == ENOENT) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    refuseControlFile(id, refusal != 0 ? refusal : errno);
    return false;
}

void QuorinDaemon::refuseControlFile(FileId id, int error)
{
    if (id == controlRefusedId)
        return;
    controlRefusedId = id;
    errno = error;
    syslog(LOG_USER | LOG_ERR, "Control file refused: %m; keeping the one held");
}

}  // namespace quorin
