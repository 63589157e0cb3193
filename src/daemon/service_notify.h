#pragma once

#include <chrono>
#include <string>

namespace quorin {

// Tells the service manager that started the daemon about its state
// ("READY=1", "STOPPING=1", ...). Does nothing when no manager listens or
// the build has no libsystemd, so callers need not ask.
void notifyServiceManager(const char* state);

// How often the manager wants "WATCHDOG=1" at the latest; zero when it
// watches nothing.
std::chrono::microseconds serviceWatchdogInterval();

// The directory systemd made for the service's state (StateDirectory=),
// or `fallback` where it names none.
std::string serviceStateDirectory(const std::string& fallback);

}  // namespace quorin
