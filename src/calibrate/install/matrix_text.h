#pragma once

#include <optional>
#include <string>

#include "calibrate/fit/geometry.h"

namespace quorin::calibrate {

constexpr const char* kDeviceName = "uinput-touch";
constexpr const char* kRulesPath = "/etc/udev/rules.d/99-quorin-calibration.rules";

// "a b c d e f" as libinput reads LIBINPUT_CALIBRATION_MATRIX: plain
// decimals, at most six places, no exponent, no "-0".
std::string matrixText(const Matrix& matrix);

// Six numbers separated by blanks. Refuses anything else, and a matrix
// that folds the panel onto a line (a*e - b*d == 0).
std::optional<Matrix> parseMatrix(const std::string& text);

// Whether an output's name stands in the rule and on a command line as
// it is: letters, digits and "-_.:", as display servers name connectors
// ("HDMI-A-1", "DP-2", "Virtual-1").
bool isPlainOutputName(const std::string& name);

// The rule's one line, matched as the example rule shipped with the
// daemon is: the input device's event node, by the device's name. With
// an output, the rule also ties the device to it by WL_OUTPUT, the
// property weston reads.
std::string udevRuleLine(const Matrix& matrix, const std::string& output = "");

// The whole file written by --install: a comment, then the rule.
std::string rulesFileText(const Matrix& matrix, const std::string& output = "");

// The root command that installs this matrix, for a run as a user.
std::string installCommand(const Matrix& matrix, const std::string& output = "");

}  // namespace quorin::calibrate
