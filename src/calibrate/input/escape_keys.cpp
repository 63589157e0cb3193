#include "calibrate/input/escape_keys.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <climits>
#include <cstdint>

#include "calibrate/input/device_lookup.h"

namespace quorin::calibrate {

namespace {

constexpr char kEscape = '\x1b';
constexpr std::size_t kBitsPerLong = sizeof(unsigned long) * CHAR_BIT;

bool hasEscapeKey(int fd)
{
    unsigned long keys[(KEY_MAX + kBitsPerLong) / kBitsPerLong] = {};
    if (ioctl(fd, EVIOCGBIT(EV_KEY, sizeof keys), keys) < 0)
        return false;
    return ((keys[KEY_ESC / kBitsPerLong] >> (KEY_ESC % kBitsPerLong)) & 1UL) != 0;
}

bool escapeEvent(int fd)
{
    input_event events[16];
    const ssize_t got = read(fd, events, sizeof events);
    for (ssize_t i = 0; got > 0 && i < got / static_cast<ssize_t>(sizeof(input_event)); ++i)
        if (events[i].type == EV_KEY && events[i].code == KEY_ESC && events[i].value == 1)
            return true;
    return false;
}

}  // namespace

bool isLoneEscape(const char* bytes, long count)
{
    return count == 1 && bytes[0] == kEscape;
}

EscapeKeys::EscapeKeys(bool keyboards, const std::string& touchPath)
{
    openTerminal();
    if (keyboards)
        openKeyboards(touchPath);
}

EscapeKeys::~EscapeKeys()
{
    if (terminalRaw)
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    for (const int fd : descriptors)
        if (fd != STDIN_FILENO)
            close(fd);
}

void EscapeKeys::openTerminal()
{
    if (isatty(STDIN_FILENO) == 0 || tcgetattr(STDIN_FILENO, &savedTerminal) < 0)
        return;
    termios raw = savedTerminal;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) < 0)
        return;
    terminalRaw = true;
    descriptors.push_back(STDIN_FILENO);
}

void EscapeKeys::openKeyboards(const std::string& touchPath)
{
    DIR* directory = opendir("/dev/input");
    if (!directory)
        return;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the program has one thread
    while (const dirent* entry = readdir(directory)) {
        const std::string path = std::string("/dev/input/") + entry->d_name;
        if (eventNumber(entry->d_name) < 0 || path == touchPath)
            continue;
        const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 && hasEscapeKey(fd))
            descriptors.push_back(fd);
        else if (fd >= 0)
            close(fd);
    }
    closedir(directory);
}

bool EscapeKeys::escapeOn(int fd)
{
    if (fd != STDIN_FILENO)
        return escapeEvent(fd);
    char bytes[16];
    const ssize_t got = read(fd, bytes, sizeof bytes);
    return isLoneEscape(bytes, static_cast<long>(got));
}

}  // namespace quorin::calibrate
