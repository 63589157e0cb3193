#pragma once

namespace quorin {

// SIGTERM and SIGINT ask for the same orderly stop as "exit" in the
// control file. The handler only makes the stop descriptor readable, for
// good: whatever waits on it (the backlight loop's sleep, a command held
// on the line) wakes and sees the request. Installed only when a service
// manager runs the daemon; without it a signal ends the process as it
// always has. Also unblocks both signals, which a starter may have left
// blocked: call it before any thread starts, since threads inherit the
// mask. Throws system_error when any of this fails.
void installStopSignalHandlers();

// What a stop signal does, for a thread of the daemon's own that must
// wake the backlight thread to end it. Does nothing without the handlers.
void requestStop();

// Readable once a stop signal has come; -1 when no handler is installed.
int stopSignalDescriptor();

bool stopSignalReceived();

}  // namespace quorin
