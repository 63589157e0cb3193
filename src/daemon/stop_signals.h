#pragma once

namespace quorin {

// SIGTERM and SIGINT ask for the same orderly stop as "exit" in the
// control file: the handler only notes the request, and the backlight
// loop ends at its next turn. Installed only when a service manager runs
// the daemon; without it a signal ends the process as it always has.
void installStopSignalHandlers();

bool stopSignalReceived();

}  // namespace quorin
