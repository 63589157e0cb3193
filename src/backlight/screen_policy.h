#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "backlight/screen_power.h"

namespace quorin {

// Which screen the backlight follows when none is named: the one
// connected connector. With several the choice is the user's; with none
// (a display driver that loads after the daemon, a screen plugged in
// later) the first one connected is taken up.
struct ScreenChoice {
    std::string name;  // empty: none followed
    bool lookAgain = false;
    std::string message;  // for the log
};

ScreenChoice chooseScreen(const std::vector<Connector>& connectors);

// How often the screen is read: often enough while it is dark that the
// backlight is lit again within 0.3 s of its return (less a command's
// time on the line), and twice a second while it is lit. With the
// service's tick once a second, that is at most about five wake-ups a
// second.
constexpr std::chrono::milliseconds kScreenReadWhileOff{270};
constexpr std::chrono::milliseconds kScreenReadWhileOn{500};

// Turns reads of a screen's power into the changes the backlight follows.
// The screen counts as on until read otherwise; it is on again at the
// first read that says so, off only at the second read in a row, so that
// the blink of a mode set (a desktop starting or ending, a switch of
// virtual terminals, a screen still being set up at boot) does not darken
// the panel. An unclear read changes nothing.
class ScreenPowerFilter {
public:
    // The screen's state when this read changes it.
    std::optional<bool> take(ScreenPower power);
    std::chrono::milliseconds nextRead() const;
    bool on() const { return state; }

private:
    bool state = true;
    bool offOnce = false;
};

}  // namespace quorin
