#include "backlight/screen_power.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "daemon/files/short_file.h"

namespace quorin {

namespace {

bool startsWith(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

ScreenPower parseScreenPower(const char* dpms, const char* enabled)
{
    if (enabled && startsWith(enabled, "disabled"))
        return ScreenPower::off;
    if (startsWith(dpms, "On"))
        return ScreenPower::on;
    for (const char* blanked : {"Off", "Standby", "Suspend"})
        if (startsWith(dpms, blanked))
            return ScreenPower::off;
    return ScreenPower::unclear;
}

bool isConnectorName(const std::string& name)
{
    if (name.compare(0, 4, "card") != 0)
        return false;
    std::size_t at = 4;
    while (at < name.size() && std::isdigit(static_cast<unsigned char>(name[at])) != 0)
        ++at;
    return at > 4 && at + 1 < name.size() && name[at] == '-';
}

std::string screenFile(const std::string& connector, const char* name)
{
    return std::string(kDrmClassDirectory) + "/" + connector + "/" + name;
}

std::vector<Connector> listConnectors()
{
    std::vector<Connector> found;
    DIR* directory = opendir(kDrmClassDirectory);
    if (!directory)
        return found;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the stream is this thread's own
    while (const dirent* entry = readdir(directory)) {
        std::string status;
        const std::string name = entry->d_name;
        if (isConnectorName(name) && readShortFile(screenFile(name, "status"), kSmallText, status))
            found.push_back({name, status.rfind("connected", 0) == 0});
    }
    closedir(directory);
    std::sort(found.begin(), found.end(),
              [](const Connector& a, const Connector& b) { return a.name < b.name; });
    return found;
}

ScreenFiles::ScreenFiles(const std::string& connector)
    : dpms{screenFile(connector, "dpms")},
      enabled{screenFile(connector, "enabled")}
{
}

ScreenFiles::~ScreenFiles()
{
    for (const Held* file : {&dpms, &enabled})
        if (file->fd >= 0)
            close(file->fd);
}

bool ScreenFiles::readHeld(Held& file, char (&text)[kSmallText])
{
    std::memset(text, 0, sizeof text);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (file.fd < 0)
            file.fd = open(file.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (file.fd < 0)
            return false;
        if (pread(file.fd, text, sizeof text - 1, 0) >= 0)
            return true;
        const int error = errno;
        close(file.fd);
        file.fd = -1;
        errno = error;
    }
    return false;
}

ScreenPower ScreenFiles::read(int& error)
{
    char dpmsText[kSmallText];
    char enabledText[kSmallText];
    error = 0;
    if (!readHeld(dpms, dpmsText)) {
        error = errno;
        return ScreenPower::unclear;
    }
    // Read only while the screen is lit, the one state it can change, so
    // that a dark screen costs one read; not every driver has it.
    const ScreenPower byDpms = parseScreenPower(dpmsText, nullptr);
    if (byDpms != ScreenPower::on)
        return byDpms;
    const bool hasEnabled = readHeld(enabled, enabledText);
    return parseScreenPower(dpmsText, hasEnabled ? enabledText : nullptr);
}

}  // namespace quorin
