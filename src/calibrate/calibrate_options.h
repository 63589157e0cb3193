#pragma once

#include <string>
#include <vector>

#include "calibrate/fit/geometry.h"

namespace quorin::calibrate {

enum class DisplayChoice { automatic, wayland, x11, drm, fbdev };

// What the command line asks for. Without arguments: the guided run on
// the first display that works, printing the rule.
struct CalibrateOptions {
    enum class Action { calibrate, installMatrix, help, version, usageError };
    Action action = Action::calibrate;
    std::string touchDevice;  // empty: the event node named uinput-touch
    std::string output;       // empty: the one output, or the one the server ties the touch to
    DisplayChoice display = DisplayChoice::automatic;
    std::string drmDevice;  // empty: the first card with a connected screen
    std::string fbDevice = "/dev/fb0";
    int timeoutSeconds = 60;  // per target
    int minSamples = 3;
    bool install = false;
    Matrix matrix{};    // for installMatrix
    std::string error;  // for usageError: what was wrong
};

// The arguments after the program name. Long options take their value as
// the next argument or after '='.
CalibrateOptions parseCalibrateOptions(const std::vector<std::string>& arguments);

std::string calibrateUsageText();

// Answers --help, --version and a bad command line on the right stream.
// Returns the exit status, or -1 when there is work to do.
int answerInformationalOptions(const CalibrateOptions& options);

}  // namespace quorin::calibrate
