#include "calibrate/install/labwc_tie.h"

#include <signal.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "calibrate/environment.h"
#include "calibrate/install/file_replace.h"
#include "calibrate/install/labwc_config.h"
#include "calibrate/install/matrix_text.h"
#include "calibrate/system_error.h"

namespace quorin::calibrate {

namespace {

constexpr mode_t kConfigMode = 0644;
constexpr mode_t kDirectoryMode = 0755;

std::string userConfigDirectory()
{
    const std::string home = environmentValue("XDG_CONFIG_HOME");
    return (home.empty() ? environmentValue("HOME") + "/.config" : home) + "/labwc";
}

std::vector<std::string> systemConfigFiles()
{
    std::string dirs = environmentValue("XDG_CONFIG_DIRS");
    std::stringstream list(dirs.empty() ? "/etc/xdg" : dirs);
    std::vector<std::string> files;
    for (std::string dir; std::getline(list, dir, ':');)
        if (!dir.empty())
            files.push_back(dir + "/labwc/rc.xml");
    return files;
}

std::optional<std::string> fileText(const std::string& path)
{
    std::ifstream file(path);
    if (!file)
        return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// What labwc reads: the user's file, else the first of the system's.
std::optional<std::string> readConfig()
{
    if (std::optional<std::string> text = fileText(userConfigDirectory() + "/rc.xml"))
        return text;
    for (const std::string& path : systemConfigFiles())
        if (std::optional<std::string> text = fileText(path))
            return text;
    return std::nullopt;
}

void makeDirectory(const std::string& path)
{
    if (mkdir(path.c_str(), kDirectoryMode) < 0 && errno != EEXIST)
        throwErrno("cannot make " + path);
}

// The file itself where the user's rc.xml is a link into a dotfiles tree.
std::string realPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

}  // namespace

std::string labwcTiedOutput()
{
    const std::optional<std::string> text = readConfig();
    return text ? labwcTouchOutput(*text, kDeviceName) : "";
}

std::string tieInLabwcConfig(const std::string& output, int labwcPid)
{
    // kill() with 0 or -1 would signal a whole group, or every process.
    if (labwcPid <= 1)
        throw CalibrationFailure("labwc's process is not known");
    const std::string directory = userConfigDirectory();
    std::string path = realPath(directory + "/rc.xml");
    const std::optional<std::string> old = readConfig();
    const std::optional<std::string> text =
        withLabwcTouchOutput(old ? *old : emptyLabwcConfig(), kDeviceName, output);
    if (!text)
        throw CalibrationFailure("labwc's rc.xml has no <labwc_config> element to add to");
    struct stat existing {};
    const bool exists = stat(path.c_str(), &existing) == 0;
    if (!exists) {
        makeDirectory(directory.substr(0, directory.rfind('/')));
        makeDirectory(directory);
    }
    replaceFile(path, *text, exists ? existing.st_mode & 07777 : kConfigMode);
    checked(kill(labwcPid, SIGHUP), "cannot ask labwc to read " + path + " again");
    return path;
}

}  // namespace quorin::calibrate
