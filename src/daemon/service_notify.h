#pragma once

namespace quorin {

// Tells the service manager that started the daemon about its state
// ("READY=1", "STOPPING=1", ...). Does nothing when no manager listens or
// the build has no libsystemd, so callers need not ask.
void notifyServiceManager(const char* state);

}  // namespace quorin
