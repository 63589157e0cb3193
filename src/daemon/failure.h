#pragma once

#include <exception>

namespace quorin {

// "Exception: <text>" at error level in the system log and on standard
// error: the one way every thread reports an error it cannot handle. A
// failed serial line's explanation follows on a line of its own.
void reportException(const std::exception& error);

// Ends the process at once with this status, from any thread, after
// flushing what was written to standard output and error. Static
// destructors are skipped on purpose: other threads may still be running.
[[noreturn]] void endProcess(int status);

}  // namespace quorin
