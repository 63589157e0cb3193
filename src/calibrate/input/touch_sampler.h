#pragma once

#include <linux/input.h>

#include <optional>

#include "calibrate/fit/geometry.h"

namespace quorin::calibrate {

// One touch from finger down to finger up, in raw device units.
struct TouchSummary {
    int samples = 0;
    Point mean;
    double scatter = 0;  // root-mean-square distance of the samples from the mean
};

// Turns the evdev events of a single-touch screen into finished touches.
// A sample is the position at each report (SYN_REPORT) while BTN_TOUCH is
// down. The kernel reports only what changed, so the position is carried
// over from report to report, starting from the device's state when it
// was opened. A touch that was down before the sampler saw BTN_TOUCH go
// down, or during which events were dropped, gives nothing.
class TouchSampler {
public:
    explicit TouchSampler(Point start) : position(start) {}

    // The touch that this event finishes, if it does.
    std::optional<TouchSummary> feed(const input_event& event);

    // After the events dropped (SYN_DROPPED), the device's state read anew.
    void resync(Point current);

    bool needsResync() const { return dropped; }

private:
    void startTouch();
    void addSample();
    std::optional<TouchSummary> report();
    TouchSummary summary() const;

    Point position;
    bool touching = false;  // BTN_TOUCH as last reported
    bool counting = false;  // a touch whose start was seen and that is whole so far
    bool dropped = false;   // events were lost: ignore all until the next report
    int samples = 0;
    Point sum;
    Point sumOfSquares;
};

}  // namespace quorin::calibrate
