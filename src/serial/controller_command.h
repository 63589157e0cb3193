#pragma once

#include <array>
#include <cstddef>

namespace quorin {

// Every command to the controller is exactly this many raw bytes, starting
// with ESC '@', with no framing around it.
constexpr std::size_t kCommandSize = 5;
using ControllerCommand = std::array<unsigned char, kCommandSize>;

// Sent once, before anything else; the two trailing NULs belong to it.
constexpr ControllerCommand kStartupCommand{0x1B, 0x40, 's', 0x00, 0x00};

constexpr int kBrightnessLevelMax = 31;

// Writes a brightness level (0 to 31) into bytes 2 and 3 of a brightness
// command as two upper-case hex digits, most significant first.
void setCommandLevel(unsigned char* command, int level);

}  // namespace quorin
