#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "backlight/screen_policy.h"

namespace quorin {

// The screen whose power the service's backlight follows, read by the
// service monitor when due. The first check chooses it and logs which,
// or why none. A screen whose state cannot be read counts as on, so that
// a panel is never left dark for want of a file; that is logged once for
// each run of failures.
class ScreenFollow {
public:
    using Clock = std::chrono::steady_clock;

    // `option`: empty for the one connected screen, "none" for no
    // screen, else a connector's name.
    explicit ScreenFollow(std::string option);

    // The screen's state when it has changed since the last check.
    std::optional<bool> check(Clock::time_point now);
    // The followed screen's state; none while no screen is followed.
    std::optional<bool> on() const;
    // When the next read is due; none while no screen is followed.
    std::optional<Clock::time_point> nextCheck() const;

private:
    void choose();
    void follow(const std::string& connector);
    void lookAgain();
    ScreenPower read();

    const std::string option;
    std::string name;
    bool chosen = false;
    bool looking = false;
    bool readFailing = false;
    std::optional<ScreenFiles> files;
    ScreenPowerFilter filter;
    Clock::time_point due{};
};

}  // namespace quorin
