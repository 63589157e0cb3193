#include "serial/line_facts.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "daemon/files/short_file.h"

namespace quorin {

namespace {

constexpr std::size_t kAttributeBytes = 255;

// A small sysfs attribute up to its first NUL or newline; empty when it
// cannot be read.
std::string attribute(const std::string& path)
{
    std::string value;
    if (!readShortFile(path, kAttributeBytes, value))
        return {};
    return value.substr(0, value.find_first_of(std::string("\n\0", 2)));
}

std::string baseName(const std::string& path)
{
    return path.substr(path.find_last_of('/') + 1);
}

std::string resolved(const std::string& path)
{
    char target[PATH_MAX];
    return realpath(path.c_str(), target) ? target : "";
}

std::string linkName(const std::string& path)
{
    char target[PATH_MAX];
    const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    return length > 0 ? baseName(std::string(target, static_cast<std::size_t>(length))) : "";
}

// The name the name services give `id`, or its number.
template <typename Entry, typename Id>
std::string nameOf(Id id, int (*lookup)(Id, Entry*, char*, std::size_t, Entry**),
                   char* Entry::*name)
{
    Entry entry = {};
    Entry* found = nullptr;
    char names[4096];
    lookup(id, &entry, names, sizeof names, &found);
    return found ? found->*name : std::to_string(id);
}

// A static daemon cannot load the name services: numbers there.
std::string ownerAndGroup(const struct stat& node)
{
#ifdef QUORIN_NO_NAME_SERVICES
    return std::to_string(node.st_uid) + ":" + std::to_string(node.st_gid);
#else
    return nameOf(node.st_uid, getpwuid_r, &passwd::pw_name) + ":" +
           nameOf(node.st_gid, getgrgid_r, &group::gr_name);
#endif
}

std::string accessText(const struct stat& node)
{
    char mode[8];
    (void)std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(node.st_mode & 07777));
    return ownerAndGroup(node) + " " + mode;
}

// The UART's own device, from the device a tty or serdev controller names
// as its parent. Since Linux 6.3 the serial core puts devices of its own,
// bound to its "port" and "ctrl" drivers, in between: their parents lead
// to the UART.
std::string uartDevice(std::string device)
{
    for (int level = 0; level < 2; ++level, device += "/..") {
        const std::string driver = linkName(device + "/driver");
        if (driver != "port" && driver != "ctrl")
            break;
    }
    return resolved(device);
}

// The tty's own directory in /sys, found by the node's device number, so
// that a node bound or linked under another name is still known. A pty
// has none; a virtual terminal has no port device behind it.
void addPortFacts(const struct stat& node, LineFacts& facts)
{
    const std::string tty = "/sys/dev/char/" + std::to_string(major(node.st_rdev)) + ":" +
                            std::to_string(minor(node.st_rdev));
    const std::string where = resolved(tty);
    if (where.empty())
        return;
    facts.name = baseName(where);
    facts.driver = linkName(uartDevice(where + "/device") + "/driver");
    facts.hardware = !facts.driver.empty();
    // The 8250 driver keeps a port it found no UART at, of type 0 (unknown).
    facts.noUart = attribute(tty + "/type") == "0";
}

// The serdev bus lists a held port's controller (serial0) and the device
// on it (serial0-0), whose parent's parent is the port.
std::vector<HeldPort> heldPorts()
{
    const std::string bus = "/sys/bus/serial/devices/";
    std::vector<HeldPort> held;
    DIR* directory = opendir(bus.c_str());
    if (!directory)
        return held;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the directory stream is this function's own
    while (const dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name.find('-') == std::string::npos)
            continue;
        std::string holder = attribute(bus + name + "/of_node/compatible");
        if (holder.empty())
            holder = name;
        held.push_back({baseName(uartDevice(bus + name + "/../..")), holder});
    }
    closedir(directory);
    return held;
}

}  // namespace

LineFacts portFacts(const std::string& path)
{
    LineFacts facts;
    struct stat node = {};
    facts.exists = stat(path.c_str(), &node) == 0;
    if (facts.exists && S_ISCHR(node.st_mode))
        addPortFacts(node, facts);
    return facts;
}

LineFacts gatherLineFacts(const std::string& path)
{
    LineFacts facts = portFacts(path);
    struct stat node = {};
    if (stat(path.c_str(), &node) == 0)
        facts.access = accessText(node);
    facts.heldPorts = heldPorts();
    facts.machine = attribute("/sys/firmware/devicetree/base/model");
    return facts;
}

}  // namespace quorin
