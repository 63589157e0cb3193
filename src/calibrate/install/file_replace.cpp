#include "calibrate/install/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "calibrate/system_error.h"

namespace quorin::calibrate {

namespace {

void writeAll(int fd, const std::string& text, const std::string& path)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0)
            throwErrno("cannot write " + path);
        done += static_cast<std::size_t>(wrote);
    }
}

}  // namespace

void replaceFile(const std::string& path, const std::string& text, mode_t mode)
{
    const std::string temporary = path + ".new";
    const int fd = checked(
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode),
        "cannot create " + temporary);
    try {
        checked(fchmod(fd, mode), "fchmod " + temporary);
        writeAll(fd, text, temporary);
        checked(fsync(fd), "fsync " + temporary);
    } catch (...) {
        close(fd);
        unlink(temporary.c_str());
        throw;
    }
    checked(close(fd), "close " + temporary);
    checked(rename(temporary.c_str(), path.c_str()), "cannot rename onto " + path);
}

}  // namespace quorin::calibrate
