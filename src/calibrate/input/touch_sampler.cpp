#include "calibrate/input/touch_sampler.h"

#include <cmath>

namespace quorin::calibrate {

std::optional<TouchSummary> TouchSampler::feed(const input_event& event)
{
    if (event.type == EV_SYN && event.code == SYN_DROPPED) {
        dropped = true;
        counting = false;
        return std::nullopt;
    }
    if (dropped)
        return std::nullopt;
    if (event.type == EV_ABS && event.code == ABS_X)
        position.x = event.value;
    else if (event.type == EV_ABS && event.code == ABS_Y)
        position.y = event.value;
    else if (event.type == EV_KEY && event.code == BTN_TOUCH) {
        touching = event.value != 0;
        if (touching)
            startTouch();
    } else if (event.type == EV_SYN && event.code == SYN_REPORT)
        return report();
    return std::nullopt;
}

void TouchSampler::resync(Point current)
{
    position = current;
    dropped = false;
}

void TouchSampler::startTouch()
{
    counting = true;
    samples = 0;
    sum = {};
    sumOfSquares = {};
}

void TouchSampler::addSample()
{
    ++samples;
    sum.x += position.x;
    sum.y += position.y;
    sumOfSquares.x += position.x * position.x;
    sumOfSquares.y += position.y * position.y;
}

std::optional<TouchSummary> TouchSampler::report()
{
    if (!counting)
        return std::nullopt;
    if (touching) {
        addSample();
        return std::nullopt;
    }
    counting = false;
    return summary();
}

TouchSummary TouchSampler::summary() const
{
    TouchSummary touch;
    touch.samples = samples;
    if (samples == 0)
        return touch;
    const double count = samples;
    touch.mean = {sum.x / count, sum.y / count};
    const double variance = sumOfSquares.x / count - touch.mean.x * touch.mean.x +
                            sumOfSquares.y / count - touch.mean.y * touch.mean.y;
    touch.scatter = std::sqrt(variance > 0 ? variance : 0);
    return touch;
}

}  // namespace quorin::calibrate
