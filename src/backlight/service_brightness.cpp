#include <algorithm>
#include <exception>

#include "backlight/brightness_request.h"
#include "daemon/failure.h"
#include "daemon/quorin_daemon.h"
#include "daemon/service_monitor.h"

namespace quorin {

// At the start, before any request can be read: the level kept from the
// last run, or the darkest where the screen is off. A line that fails
// here is reported as in a turn, and the loop starts all the same.
void QuorinDaemon::restoreBrightness()
{
    screen.emplace(service->screen);
    store.emplace(service->stateDirectory);
    const std::optional<int> kept = store->load();
    levels.emplace(kept ? std::optional<int>(brightnessLevel(*kept)) : std::nullopt);
    levelWanted.store(levels->wanted().value_or(-1), std::memory_order_relaxed);
    try {
        followScreen(true);
    } catch (const std::exception& error) {
        reportException(error);
    }
}

// Until a screen is followed and read off, the backlight is as if it
// were on.
void QuorinDaemon::followScreen(bool atStart)
{
    const std::optional<bool> change = screen->check(ScreenFollow::Clock::now());
    const std::optional<bool> on = screen->on();
    screenOn.store(on ? static_cast<int>(*on) : -1, std::memory_order_relaxed);
    if (change || atStart)
        sendLevel(levels->screen(change.value_or(true)));
}

// The watchdog's turn, or sooner when the screen is due to be read.
std::chrono::milliseconds QuorinDaemon::idleTurn() const
{
    using std::chrono::milliseconds;
    const milliseconds turn =
        std::chrono::ceil<milliseconds>(backlightIdleTurn(service->watchdogInterval));
    const std::optional<ScreenFollow::Clock::time_point> due = screen->nextCheck();
    if (!due)
        return turn;
    const milliseconds left = std::chrono::ceil<milliseconds>(*due - ScreenFollow::Clock::now());
    return std::clamp(left, milliseconds(0), turn);
}

}  // namespace quorin
