#include "backlight/backlight_levels.h"

#include "serial/controller_command.h"

namespace quorin {

BacklightLevels::BacklightLevels(std::optional<int> kept) : wantedLevel(kept) {}

std::optional<int> BacklightLevels::request(int level)
{
    wantedLevel = level;
    if (screenOn && !*screenOn)
        return std::nullopt;
    return level;
}

std::optional<int> BacklightLevels::screen(bool on)
{
    if (screenOn == on)
        return std::nullopt;
    screenOn = on;
    std::optional<int> target = on ? wantedLevel : 0;
    if (on && !target && inForce)
        target = kBrightnessLevelMax;
    if (!target || inForce == target)
        return std::nullopt;
    return target;
}

void BacklightLevels::sent(int level)
{
    inForce = level;
}

}  // namespace quorin
