#pragma once

#include <linux/input.h>

#include <string>
#include <vector>

#include "calibrate/fit/geometry.h"

namespace quorin::calibrate {

// The touch screen's event node, read raw through evdev: what the daemon
// sends, before any calibration matrix that libinput applies. Opened
// non-blocking; not grabbed, so that the desktop goes on seeing it.
class TouchInput {
public:
    // `path` empty: the node whose device is named uinput-touch.
    explicit TouchInput(const std::string& path);
    ~TouchInput();
    TouchInput(const TouchInput&) = delete;
    TouchInput& operator=(const TouchInput&) = delete;

    int fd() const { return descriptor; }
    const std::string& path() const { return nodePath; }
    AxisRange xAxis() const { return x; }
    AxisRange yAxis() const { return y; }
    // The position the device holds now (EVIOCGABS).
    Point position() const;
    // What has arrived; empty when nothing has.
    std::vector<input_event> readEvents();
    // A property udev gave the device (WL_OUTPUT); empty if none.
    std::string udevProperty(const std::string& name) const;

private:
    std::string nodePath;
    int descriptor = -1;
    AxisRange x;
    AxisRange y;
};

// The path of the event node named uinput-touch under /sys/class/input.
// Throws, saying what to check, when there is none.
std::string findTouchDevice();

}  // namespace quorin::calibrate
