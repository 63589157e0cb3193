#pragma once

#include <memory>
#include <string>

#include "calibrate/screen/screen.h"

namespace quorin::calibrate {

// A dumb buffer shown on a connected connector in its preferred mode,
// with DRM_IOCTL_MODE_DIRTYFB after every picture (virtio-gpu and panel
// drivers show nothing new without it). The card is `path`, or, when that
// is empty, the first /dev/dri/card* with a connected screen (named
// `asked`, where that is not empty). A card with several connected
// screens needs one named: OutputNotChosen lists them. What was on the
// screen comes back when it is destroyed.
std::unique_ptr<Screen> openDrmScreen(const std::string& path, const std::string& asked);

}  // namespace quorin::calibrate
