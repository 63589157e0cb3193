#include "backlight/brightness_store.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "daemon/files/whole_file.h"

namespace quorin {

namespace {

constexpr const char* kStateFile = "/brightness";
constexpr const char* kTemporarySuffix = ".tmp";
// Longer than any percentage: a longer file is no level.
constexpr std::size_t kLongestText = 8;

// Neither a link nor a FIFO put there is followed or waited for.
bool readText(const std::string& path, std::string& text)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[kLongestText] = {};
    const ssize_t count = read(fd, buffer, sizeof buffer);
    const int error = errno;
    close(fd);
    errno = error;
    if (count < 0)
        return false;
    text.assign(buffer, static_cast<std::size_t>(count));
    return true;
}

}  // namespace

std::optional<int> parseKeptPercent(const std::string& text)
{
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])))
        ++digits;
    const std::string rest = text.substr(digits);
    if (digits == 0 || digits > 3 || !(rest.empty() || rest == "\n"))
        return std::nullopt;
    const int percent = std::stoi(text.substr(0, digits));
    return percent <= 100 ? std::optional<int>(percent) : std::nullopt;
}

BrightnessStore::BrightnessStore(const std::string& directory) : path(directory + kStateFile) {}

std::optional<int> BrightnessStore::load()
{
    std::string text;
    if (!readText(path, text)) {
        syslog(LOG_USER | LOG_NOTICE, "No brightness restored: %s: %m", path.c_str());
        return std::nullopt;
    }
    saved = parseKeptPercent(text);
    if (!saved)
        syslog(LOG_USER | LOG_NOTICE,
               "No brightness restored: %s holds no percentage from 0 to 100", path.c_str());
    return saved;
}

void BrightnessStore::save(int percent)
{
    if (saved == percent)
        return;
    const bool done =
        replaceFileWhole(path, path + kTemporarySuffix, std::to_string(percent) + "\n", 0644, true);
    if (!done && !failing)
        syslog(LOG_USER | LOG_ERR, "Brightness not kept in %s: %m", path.c_str());
    failing = !done;
    if (done)
        saved = percent;
}

}  // namespace quorin
