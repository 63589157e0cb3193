#pragma once

#include <optional>

namespace quorin {

// The service's brightness: the level last asked for (or kept from the
// run before), whether the screen is on, and the level in force, the one
// last sent. Each event says which level to send, if any: nothing while
// nothing changes.
class BacklightLevels {
public:
    explicit BacklightLevels(std::optional<int> kept);

    // A new request is sent at once, as ever, unless the screen is off:
    // then it is kept for the screen's return.
    std::optional<int> request(int level);
    // The screen's state (at the start, true where none is followed): off
    // is the darkest level; on is the level asked for, or the highest
    // where the backlight was darkened before any was asked for.
    std::optional<int> screen(bool on);
    void sent(int level);

    std::optional<int> wanted() const { return wantedLevel; }

private:
    std::optional<int> wantedLevel;
    std::optional<int> inForce;
    std::optional<bool> screenOn;
};

}  // namespace quorin
