#pragma once

#include <memory>
#include <string>

#include "calibrate/screen/screen.h"

namespace quorin::calibrate {

// A window over the whole X screen, or over the output `asked` names
// where RandR shows several, above the desktop's panels: full screen by
// _NET_WM_STATE_FULLSCREEN where a window manager runs, override-redirect
// where none does. X maps an absolute touch screen onto the whole root
// window: the matrix puts the panel onto the window's part of it. Escape
// comes from X's keyboard. nullptr when no X server answers on DISPLAY.
std::unique_ptr<Screen> connectX11Screen(const std::string& asked);

}  // namespace quorin::calibrate
