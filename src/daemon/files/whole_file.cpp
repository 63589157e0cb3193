#include "daemon/files/whole_file.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace quorin {

namespace {

bool writeAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = write(fd, text.data() + done, text.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        done += static_cast<std::size_t>(count);
    }
    return true;
}

// The daemon's mask is 0: the mode is given whole.
bool writeTemporary(const std::string& temporary, const std::string& text, mode_t mode,
                    bool durable)
{
    const int fd =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    errno = 0;
    bool whole = writeAll(fd, text) && (!durable || fsync(fd) == 0);
    int error = errno;
    if (close(fd) != 0 && whole) {
        whole = false;
        error = errno;
    }
    if (whole)
        return true;
    unlink(temporary.c_str());
    errno = error == 0 ? EIO : error;
    return false;
}

}  // namespace

bool replaceFileWhole(const std::string& path, const std::string& temporary,
                      const std::string& text, mode_t mode, bool durable)
{
    if (!writeTemporary(temporary, text, mode, durable))
        return false;
    if (rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    const int error = errno;
    unlink(temporary.c_str());
    errno = error;
    return false;
}

WholeFile::WholeFile(std::string path, const char* failure, int priority, bool durable)
    : named(std::move(path)),
      temporary(named + ".tmp"),
      failure(failure),
      priority(priority),
      durable(durable)
{
}

bool WholeFile::replace(const std::string& text)
{
    const bool done = replaceFileWhole(named, temporary, text, 0644, durable);
    if (!done && !failing)
        syslog(LOG_USER | priority, "%s %s: %m", failure, named.c_str());
    failing = !done;
    return done;
}

}  // namespace quorin
