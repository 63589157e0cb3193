#pragma once

#include <termios.h>

#include <string>
#include <vector>

namespace quorin {

// What the controller's line needs, in the order the options are set:
// even parity (with input parity checking), 8 data bits, 9600 baud.
constexpr int kLineOptionCount = 3;
constexpr const char* kLineNeeds = "9600 baud, 8 data bits, even parity";

// The settings of the first `optionsSet` options that the port's
// attributes, as read back, no longer have: "even parity", "input parity
// checking", "8 data bits", "9600 baud". A driver may drop what its UART
// cannot do and still report success.
std::vector<std::string> settingsNotKept(const termios& kept, int optionsSet = kLineOptionCount);

// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string>& items);

}  // namespace quorin
