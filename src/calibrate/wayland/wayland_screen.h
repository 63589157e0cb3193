#pragma once

#include <memory>

#include "calibrate/screen/screen.h"

namespace quorin::calibrate {

// A full-screen xdg_toplevel on wl_shm buffers, under any compositor with
// xdg-shell, on the output the request chooses where there are several
// (under labwc tied to it in rc.xml); Escape comes from the seat's
// keyboard. nullptr when no compositor answers (no WAYLAND_DISPLAY, or
// its socket refuses).
std::unique_ptr<Screen> connectWaylandScreen(const OutputRequest& request);

}  // namespace quorin::calibrate
