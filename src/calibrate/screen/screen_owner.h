#pragma once

#include <string>
#include <vector>

#include "calibrate/screen/display_servers.h"

namespace quorin::calibrate {

// What holds the screen now, so that a picture drawn on DRM or the
// framebuffer would not be seen: a DRM card with another master, or the
// console in graphics mode. Empty when the screen is free.
std::string screenHolder();

// The X servers and Wayland compositors whose sockets answer, each with
// its program and its desktop's user where they can be told.
std::vector<DisplayServer> answeringDisplayServers();

// Throws, saying who holds the screen and how to reach it, when the
// screen is held.
void refuseHeldScreen();

}  // namespace quorin::calibrate
