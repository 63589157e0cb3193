#pragma once

#include <string>
#include <vector>

#include "calibrate/fit/geometry.h"

namespace quorin::calibrate {

// One touched target: where the device saw it and where it truly is,
// both as fractions (device: normalised as libinput does, see
// normalizedDevicePoint; screen: of the screen's width and height).
struct PointPair {
    Point device;
    Point screen;
};

struct FitResult {
    bool ok = false;
    Matrix matrix{};
    std::string error;  // when !ok: why no matrix can be fitted
};

// The six numbers that map the device points onto the screen points best
// in the least-squares sense: rotation, mirroring, scale and offset in one
// fit. Refuses fewer than three points, and points that all lie on one
// spot or on one line, for which no unique matrix exists.
FitResult fitMatrix(const std::vector<PointPair>& pairs);

Point applyMatrix(const Matrix& matrix, Point point);

// libinput (evdev_device_calibrate, scale_axis) divides by the axis'
// width taken as maximum - minimum + 1, after subtracting the minimum:
// for 0..4095 a raw 4095 is 4095/4096, not 1. The matrix works on these
// fractions, and the result, times the screen's width or height, is the
// position on the screen.
Point normalizedDevicePoint(Point raw, AxisRange x, AxisRange y);

}  // namespace quorin::calibrate
