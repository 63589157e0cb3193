#pragma once

#include <ostream>
#include <string>

#include "calibrate/fit/geometry.h"
#include "calibrate/install/matrix_text.h"

namespace quorin::calibrate {

// As root: writes the rule file (kRulesPath) for this matrix in place of
// any earlier one, reloads udev's rules, and has the device made anew so
// that every reader takes the matrix up (libinput reads it only when a
// device is added): restarts the daemon's service if it is active, else
// says what to restart. With an output, the rule also ties the device to
// it (WL_OUTPUT, for weston). Reports each step on `out`; throws on failure.
void installMatrix(const Matrix& matrix, const std::string& output, std::ostream& out);

}  // namespace quorin::calibrate
