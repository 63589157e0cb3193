#include "calibrate/input/touch_input.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <optional>
#include <sstream>

#include "calibrate/input/device_lookup.h"
#include "calibrate/install/matrix_text.h"
#include "calibrate/system_error.h"

namespace quorin::calibrate {

namespace {

constexpr const char* kInputClass = "/sys/class/input";
constexpr std::size_t kEventsPerRead = 64;

std::string fileText(const std::string& path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<InputEntry> inputEntries()
{
    std::vector<InputEntry> entries;
    DIR* directory = opendir(kInputClass);
    if (!directory)
        throwErrno(std::string("cannot list ") + kInputClass);
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the program has one thread
    while (const dirent* entry = readdir(directory)) {
        const std::string node = entry->d_name;
        if (eventNumber(node) >= 0)
            entries.push_back(
                {node, fileText(std::string(kInputClass) + "/" + node + "/device/name")});
    }
    closedir(directory);
    return entries;
}

input_absinfo axisInfo(int fd, unsigned int axis, const std::string& path)
{
    input_absinfo info{};
    if (ioctl(fd, EVIOCGABS(axis), &info) < 0)
        throw CalibrationFailure(path + " has no " + (axis == ABS_X ? "ABS_X" : "ABS_Y") +
                                 " axis: it is not the panel's touch screen");
    return info;
}

}  // namespace

std::string findTouchDevice()
{
    const std::optional<std::string> node = findEventNode(inputEntries(), kDeviceName);
    if (!node)
        throw CalibrationFailure(std::string("no input device named ") + kDeviceName +
                                 ": is quorinDaemon running? (--device names the event node)");
    return *node;
}

TouchInput::TouchInput(const std::string& path) : nodePath(path.empty() ? findTouchDevice() : path)
{
    descriptor = checked(open(nodePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC),
                         "cannot open " + nodePath + " (is the user in the group input?)");
    try {
        const input_absinfo xInfo = axisInfo(descriptor, ABS_X, nodePath);
        const input_absinfo yInfo = axisInfo(descriptor, ABS_Y, nodePath);
        x = {xInfo.minimum, xInfo.maximum};
        y = {yInfo.minimum, yInfo.maximum};
    } catch (...) {
        close(descriptor);
        throw;
    }
    if (x.maximum <= x.minimum || y.maximum <= y.minimum) {
        close(descriptor);
        throw CalibrationFailure(nodePath + ": an axis has no range");
    }
}

TouchInput::~TouchInput()
{
    close(descriptor);
}

Point TouchInput::position() const
{
    const input_absinfo xInfo = axisInfo(descriptor, ABS_X, nodePath);
    const input_absinfo yInfo = axisInfo(descriptor, ABS_Y, nodePath);
    return {static_cast<double>(xInfo.value), static_cast<double>(yInfo.value)};
}

std::vector<input_event> TouchInput::readEvents()
{
    std::vector<input_event> events(kEventsPerRead);
    const ssize_t got = read(descriptor, events.data(), events.size() * sizeof(input_event));
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return {};
    if (got < 0)
        throwErrno(nodePath + ": the touch screen went away");
    events.resize(static_cast<std::size_t>(got) / sizeof(input_event));
    return events;
}

// udev's database is readable by everyone; a node it does not know, such
// as a FIFO given as --device, has no entry and no properties.
std::string TouchInput::udevProperty(const std::string& name) const
{
    struct stat node {};
    if (fstat(descriptor, &node) < 0 || !S_ISCHR(node.st_mode))
        return "";
    return calibrate::udevProperty(
        fileText("/run/udev/data/c" + std::to_string(major(node.st_rdev)) + ":" +
                 std::to_string(minor(node.st_rdev))),
        name);
}

}  // namespace quorin::calibrate
