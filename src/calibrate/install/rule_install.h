#pragma once

#include <ostream>

#include "calibrate/fit/geometry.h"

namespace quorin::calibrate {

// As root: writes the rule file (kRulesPath) for this matrix in place of
// any earlier one, reloads udev's rules, and has the device made anew so
// that every reader takes the matrix up (libinput reads it only when a
// device is added): restarts the daemon's service if it is active, else
// says what to restart. Reports each step on `out`; throws on failure.
void installMatrix(const Matrix& matrix, std::ostream& out);

// The root command that installs this matrix, for a run as a user.
std::string installCommand(const Matrix& matrix);

}  // namespace quorin::calibrate
