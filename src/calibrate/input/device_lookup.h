#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorin::calibrate {

// An entry of /sys/class/input: "event3", and the text of its
// device/name file as read (with its newline).
struct InputEntry {
    std::string node;
    std::string nameFile;
};

// The /dev/input path of the event node whose device has this name; the
// lowest-numbered one if several have it.
std::optional<std::string> findEventNode(const std::vector<InputEntry>& entries,
                                         const std::string& name);

// The number of "eventN", or -1 for any other entry (input3, mouse0, ...).
int eventNumber(const std::string& node);

// A property of a device in udev's database file for it
// (/run/udev/data/cMAJOR:MINOR, "E:NAME=value" lines); empty if unset.
std::string udevProperty(const std::string& database, const std::string& name);

}  // namespace quorin::calibrate
