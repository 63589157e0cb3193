#pragma once

#include <memory>

#include "calibrate/screen/screen.h"

namespace quorin::calibrate {

// A window over the whole X screen, above the desktop's panels: full
// screen by _NET_WM_STATE_FULLSCREEN where a window manager runs,
// override-redirect where none does. X maps an absolute touch screen onto
// the whole root window, so the root's size is the screen the matrix is
// fitted for. Escape comes from X's keyboard. nullptr when no X server
// answers on DISPLAY.
std::unique_ptr<Screen> connectX11Screen();

}  // namespace quorin::calibrate
