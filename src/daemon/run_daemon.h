#pragma once

#include "daemon/options.h"

namespace quorin {

// The daemon's whole life after the single-instance guard: build the
// object on the serial line, detach (or stay, in the foreground), run both
// threads until a stop request, tear down. Returns the process's exit
// status.
int runDaemon(const Options& options);

}  // namespace quorin
