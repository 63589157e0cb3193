#pragma once

#include <string>
#include <vector>

namespace quorin::calibrate {

// Runs a program found in PATH with these arguments (no shell), with
// every signal unblocked, and waits for it. Returns its exit status; 127
// when it could not be started, 128 + N when signal N ended it.
int runCommand(const std::vector<std::string>& command);

}  // namespace quorin::calibrate
