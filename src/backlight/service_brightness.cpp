#include <unistd.h>

#include <cstdint>
#include <exception>

#include "backlight/brightness_request.h"
#include "daemon/failure.h"
#include "daemon/quorin_daemon.h"
#include "daemon/service_notify.h"

namespace quorin {

// At the start, before any request can be read: the level kept from the
// last run. The screen counts as on until the monitor reads it off. A
// line that fails here is reported as in a turn, and the loop starts all
// the same.
void QuorinDaemon::restoreBrightness()
{
    store.emplace(serviceStateDirectory(kDefaultStateDirectory));
    const std::optional<int> kept = store->load();
    levels.emplace(kept ? std::optional<int>(brightnessLevel(*kept)) : std::nullopt);
    levelWanted.store(levels->wanted().value_or(-1), std::memory_order_relaxed);
    try {
        sendLevel(levels->screen(true));
    } catch (const std::exception& error) {
        reportException(error);
    }
}

// The state is stored before the descriptor is made readable, and the
// descriptor emptied before the state is read: a change is never missed,
// and changes that come together end in the last.
void QuorinDaemon::screenChanged(bool on)
{
    screenOn.store(on, std::memory_order_release);
    const std::uint64_t one = 1;
    if (write(service->screenFd, &one, sizeof one) < 0) {
        // Full only after 2^64 - 1 changes unread: the loop reads it.
    }
}

void QuorinDaemon::followScreen()
{
    std::uint64_t changes = 0;
    if (read(service->screenFd, &changes, sizeof changes) <= 0)
        return;
    sendLevel(levels->screen(screenOn.load(std::memory_order_acquire)));
}

}  // namespace quorin
