#include "daemon/service_notify.h"

#include <cstdint>
#include <cstdlib>

#ifdef QUORIN_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

namespace quorin {

// A lost notification is not worth failing for: systemd then times the
// start out or escalates the stop on its own.
void notifyServiceManager(const char* state)
{
#ifdef QUORIN_HAVE_SYSTEMD
    (void)sd_notify(0, state);
#else
    (void)state;
#endif
}

std::chrono::microseconds serviceWatchdogInterval()
{
#ifdef QUORIN_HAVE_SYSTEMD
    std::uint64_t interval = 0;
    if (sd_watchdog_enabled(0, &interval) > 0)
        return std::chrono::microseconds(interval);
#endif
    return std::chrono::microseconds(0);
}

// Several directories come separated by colons: the first is the
// service's own.
std::string serviceStateDirectory(const std::string& fallback)
{
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the daemon never changes its environment
    const char* named = std::getenv("STATE_DIRECTORY");
    const std::string directories = named ? named : "";
    const std::string first = directories.substr(0, directories.find(':'));
    return first.empty() || first[0] != '/' ? fallback : first;
}

}  // namespace quorin
