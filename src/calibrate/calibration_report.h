#pragma once

#include <string>

#include "calibrate/fit/calibration_session.h"

namespace quorin::calibrate {

// The lines of the run's log on standard output, one fact each, each
// starting with a fixed word, so that a person reads them and a script
// picks the numbers out:
//   screen 800x480 wayland
//   device /dev/input/event3 x 0..4095 y 0..4095
//   target 1/5 top-left at 80,48
//   touch 1/5 raw 409.5,409.2 samples 6 scatter 1.2
//   again 1/5: <why the touch did not count>
//   matrix a b c d e f
//   centre at 400,240 fitted 400.7,239.6 residual 0.8 px
//   rule SUBSYSTEM=="input", ...
std::string screenLine(Size screen, const char* backend);
std::string deviceLine(const std::string& path, AxisRange x, AxisRange y);
std::string targetLine(const CalibrationSession& session);
std::string touchLine(const CalibrationSession& session, const TouchSummary& touch);
std::string againLine(const CalibrationSession& session, Verdict verdict);
std::string matrixLine(const Matrix& matrix);
std::string centreLine(const CalibrationSession& session);
std::string ruleLine(const Matrix& matrix, const std::string& output = "");

}  // namespace quorin::calibrate
