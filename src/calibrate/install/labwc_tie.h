#pragma once

#include <string>

namespace quorin::calibrate {

// The output labwc's configuration ties the touch screen to, in the first
// rc.xml labwc reads ($XDG_CONFIG_HOME/labwc, ~/.config/labwc, then
// $XDG_CONFIG_DIRS/labwc); empty for none.
std::string labwcTiedOutput();

// Ties the touch screen to the output in the user's own rc.xml (made
// from the system's where the user has none) and has labwc, the process
// `labwcPid`, read it again, as `labwc --reconfigure` does. labwc maps a
// touch device when it is added, so the device the installation makes
// anew lands on the output. Returns the file's path; throws on failure.
std::string tieInLabwcConfig(const std::string& output, int labwcPid);

}  // namespace quorin::calibrate
