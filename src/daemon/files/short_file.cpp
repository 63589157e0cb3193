#include "daemon/files/short_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace quorin {

bool readShortFile(const std::string& path, std::size_t most, std::string& text)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    text.assign(most, '\0');
    const ssize_t count = read(fd, text.data(), most);
    const int error = errno;
    close(fd);
    errno = error;
    text.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    return count >= 0;
}

}  // namespace quorin
