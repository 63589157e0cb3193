#include "daemon/metrics_file.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace quorin {

namespace {

constexpr std::chrono::seconds kLeastInterval{1};

// The collector reads only *.prom files: the temporary name is never
// scraped.
constexpr const char* kTemporarySuffix = ".tmp";

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

}  // namespace

MetricsFile::MetricsFile(std::string path)
    : path(std::move(path)),
      temporary(this->path + kTemporarySuffix)
{
}

MetricsFile::~MetricsFile()
{
    if (!written.empty())
        unlink(path.c_str());
}

void MetricsFile::update(const std::string& text, Clock::time_point now)
{
    if (text == written || (lastWrite && now - *lastWrite < kLeastInterval))
        return;
    lastWrite = now;
    const bool done = replace(text);
    if (!done && !failing)
        syslog(LOG_USER | LOG_NOTICE, "Metrics not written to %s: %m", path.c_str());
    failing = !done;
    if (done)
        written = text;
}

bool MetricsFile::replace(const std::string& text)
{
    if (!writeTemporary(text))
        return false;
    if (rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    const int error = errno;
    unlink(temporary.c_str());
    errno = error;
    return false;
}

// The daemon's mask is 0: the mode is given whole. No link is followed,
// though only root may write node-exporter's directory.
bool MetricsFile::writeTemporary(const std::string& text)
{
    const int fd =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool whole = writeAll(fd, text);
    const int error = errno;
    close(fd);
    if (whole)
        return true;
    unlink(temporary.c_str());
    errno = error == 0 ? EIO : error;
    return false;
}

}  // namespace quorin
