#pragma once

#include <array>

namespace quorin::calibrate {

// A position: in pixels on the screen, in raw device units, or as a
// fraction of the screen or of the device's axes, as each name says.
struct Point {
    double x = 0;
    double y = 0;
};

struct Size {
    int width = 0;
    int height = 0;
};

// A rectangle of pixels: an output's place in its display server's
// layout, the layout's own box.
struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// An absolute axis as evdev announces it (EVIOCGABS).
struct AxisRange {
    int minimum = 0;
    int maximum = 0;
};

// libinput's calibration matrix "a b c d e f":
//     x' = a*x + b*y + c        y' = d*x + e*y + f
using Matrix = std::array<double, 6>;

}  // namespace quorin::calibrate
