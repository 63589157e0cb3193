#pragma once

#include <optional>
#include <string>

#include "daemon/files/whole_file.h"

namespace quorin {

// Where the service keeps its state when systemd names none
// (StateDirectory= sets $STATE_DIRECTORY).
constexpr const char* kDefaultStateDirectory = "/var/lib/quorindaemon";

// The service's last brightness request, kept across restarts in its
// state directory as the percentage and a newline ("50\n"): replaced
// whole and synced, and only when it changed, so that a slider's steps
// that give one percentage, or the same request written again, do not
// rewrite it. A file that cannot be written is logged once for each run
// of failures.
class BrightnessStore {
public:
    explicit BrightnessStore(const std::string& directory);

    // The percentage kept, or none: a missing, unreadable or bad file is
    // logged and ignored. Called once, at the start.
    std::optional<int> load();
    void save(int percent);

private:
    WholeFile file;
    std::optional<int> saved;
};

// "50\n" (the newline may be missing) is 50; anything but a percentage
// from 0 to 100 is none.
std::optional<int> parseKeptPercent(const std::string& text);

}  // namespace quorin
