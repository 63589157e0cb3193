#pragma once

#include <array>

#include "calibrate/fit/geometry.h"

namespace quorin::calibrate {

// A target's centre is the pixel at column x, row y; as a point on the
// screen it is that pixel's middle, (x + 0.5, y + 0.5).
struct Target {
    const char* name;
    int x;
    int y;
};

constexpr std::size_t kTargetCount = 5;
constexpr std::size_t kCornerCount = 4;
using TargetSet = std::array<Target, kTargetCount>;

// The four corner targets, a tenth of the width and height in from the
// edges, in reading order round the screen, then the centre one that
// checks the fit. The same screen size always gives the same pixels.
TargetSet placeTargets(Size screen);

// The target's middle as a fraction of the screen.
Point screenFraction(const Target& target, Size screen);

// Whether a touch, as a fraction of the device's axes, lies within
// `distance` of where some target would be seen on a panel mounted
// turned by a multiple of 90 degrees and/or mirrored. Before the fit
// that is all that is known of where the targets land.
bool nearSomeTarget(Point device, const TargetSet& targets, Size screen, double distance);

}  // namespace quorin::calibrate
