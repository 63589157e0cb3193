#pragma once

#include <cstdint>
#include <vector>

#include <xcb/xcb.h>

#include "calibrate/screen/output_choice.h"

namespace quorin::calibrate {

// An output that shows part of the root window: its name and its CRTC's
// rectangle there, and the CRTC's rotation (RR_Rotate_*, RR_Reflect_*).
struct RandrOutput {
    NamedOutput output;
    std::uint16_t rotation = 0;
};

// The outputs lit now, in RandR's order; empty without RandR 1.3.
std::vector<RandrOutput> randrOutputs(xcb_connection_t* connection, xcb_window_t root);

}  // namespace quorin::calibrate
