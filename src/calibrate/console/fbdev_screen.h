#pragma once

#include <memory>
#include <string>

#include "calibrate/screen/screen.h"

namespace quorin::calibrate {

// The visible part of a framebuffer of 16 or 32 bits a pixel.
std::unique_ptr<Screen> openFbdevScreen(const std::string& path);

}  // namespace quorin::calibrate
