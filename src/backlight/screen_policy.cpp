#include "backlight/screen_policy.h"

namespace quorin {

ScreenChoice chooseScreen(const std::vector<Connector>& connectors)
{
    std::vector<std::string> connected;
    for (const Connector& connector : connectors)
        if (connector.connected)
            connected.push_back(connector.name);
    if (connected.size() == 1)
        return {connected[0], false, "Following the screen " + connected[0]};
    if (connected.empty())
        return {"", true,
                "Screen not followed: none connected yet; the first one connected will be"};
    std::string names;
    for (const std::string& name : connected)
        names += (names.empty() ? "" : ", ") + name;
    return {"", false,
            "Screen not followed: " + std::to_string(connected.size()) + " connected (" + names +
                "); name one with --screen"};
}

std::optional<bool> ScreenPowerFilter::take(ScreenPower power)
{
    if (power == ScreenPower::unclear)
        return std::nullopt;
    const bool on = power == ScreenPower::on;
    const bool firstOff = !on && state && !offOnce;
    offOnce = firstOff;
    if (firstOff || state == on)
        return std::nullopt;
    state = on;
    return on;
}

std::chrono::milliseconds ScreenPowerFilter::nextRead() const
{
    return (offOnce || !state) ? kScreenReadWhileOff : kScreenReadWhileOn;
}

}  // namespace quorin
