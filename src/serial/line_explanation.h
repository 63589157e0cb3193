#pragma once

#include <string>
#include <vector>

#include "serial/line_facts.h"

namespace quorin {

// The one line that goes with a failed start on the serial line: which
// line, why it failed where the facts tell, and what to do about it.

// Opening the line failed with `error` (an errno value).
std::string explainOpenFailure(const std::string& device, int error, const LineFacts& facts);

// The line's attributes, read back after its set-up, lack `dropped`.
std::string explainSettingsNotKept(const std::string& device,
                                   const std::vector<std::string>& dropped, const LineFacts& facts);

// Setting an option failed with `error`; `dropped` is what the attributes
// lacked then (a driver may refuse what its UART cannot do).
std::string explainSetupFailure(const std::string& device, int error,
                                const std::vector<std::string>& dropped, const LineFacts& facts);

}  // namespace quorin
