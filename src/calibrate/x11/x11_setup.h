#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <xcb/xcb.h>

#include "calibrate/screen/canvas.h"

namespace quorin::calibrate {

// The requests an X client makes once before it draws, each checked: the
// names it needs interned, the window manager, the keyboard's Escape keys,
// the pixel layout and the output's rotation.

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name);

// Whether a window manager that follows the EWMH runs: the root names a
// window that names itself (_NET_SUPPORTING_WM_CHECK).
bool windowManagerRuns(xcb_connection_t* connection, xcb_window_t root);

// The key codes that type Escape on the keyboard as it is mapped now.
std::vector<xcb_keycode_t> escapeKeycodes(xcb_connection_t* connection);

// The root visual's pixels as the canvas writes them; throws for a
// layout other than 32-bit true colour in this machine's byte order.
PixelFormat rootPixelFormat(xcb_connection_t* connection, const xcb_screen_t& screen);

// RandR's rotation bits of the screen, or 0 without RandR.
std::uint16_t screenRotation(xcb_connection_t* connection, xcb_window_t root);

// A cursor with no visible pixel, for a window whose spot must not be
// hidden under the pointer.
xcb_cursor_t blankCursor(xcb_connection_t* connection, xcb_window_t root);

void setProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                 xcb_atom_t type, const std::vector<std::uint32_t>& values);
void setText(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
             const std::string& text);

}  // namespace quorin::calibrate
