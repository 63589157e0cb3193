#pragma once

#include <ostream>
#include <string>

#include "calibrate/calibrate_options.h"
#include "calibrate/fit/geometry.h"

namespace quorin::calibrate {

enum class Outcome { calibrated, failed, givenUp, timedOut };

struct RunResult {
    Outcome outcome = Outcome::failed;
    Matrix matrix{};
    std::string ruleOutput;  // the output the rule ties the device to; empty for none
};

// The guided run: the targets on the screen, the touches read from the
// device, the log on `log`. Throws when the device or the screen cannot
// be had, OutputNotChosen where the output must be named.
RunResult runCalibration(const CalibrateOptions& options, std::ostream& log);

}  // namespace quorin::calibrate
