#pragma once

namespace quorin {

// The daemon's whole life after the single-instance guard: build the
// object on the serial line, detach, run both threads until a stop
// request, tear down. Returns the process's exit status.
int runDaemon(const char* device);

}  // namespace quorin
