#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace quorin {

// The daemon's health, as "systemctl status" and the metrics file show it.
struct Health {
    std::uint64_t records = 0;
    std::uint64_t badRecords = 0;
    std::optional<std::chrono::seconds> sinceLastRecord;  // none before the first
    int brightnessLevel = -1;                             // -1: none sent yet
    bool lineFailing = false;
    // Brightness commands: written whole, and not sent because the write
    // failed or a stop gave up one the line held back.
    std::uint64_t commandsSent = 0;
    std::uint64_t commandsGivenUp = 0;
    // The service's: the level last asked for, and the followed screen's
    // state (none while no screen is followed).
    int brightnessWanted = -1;
    std::optional<bool> screenOn = std::nullopt;
};

// For example "ttyS0: 18 233 records, 4 bad, last 2 s ago; brightness 15",
// and where a screen is followed "; screen on" or "; screen off, 15 when
// on".
// Times coarsen as they grow, so that an idle daemon's line changes
// rarely.
std::string formatStatusLine(const std::string& device, const Health& health);

// "18 233": digits in groups of three, as people read counts.
std::string groupedCount(std::uint64_t count);

std::string roughDuration(std::chrono::seconds duration);

}  // namespace quorin
