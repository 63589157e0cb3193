#pragma once

namespace quorin {

constexpr const char* kLogFile = "/tmp/quorin.daemon.out";

// Double fork: the starting process and the first child end with status 0
// through exit(); the grandchild returns, not a session leader, in "/",
// with umask 0, standard input on /dev/null and standard output and error
// appending to the log file. Returns false, after logging why, when any of
// this fails in the process that would have gone on.
bool detachFromTerminal();

// The same set-up without the forks, for a service manager that tracks the
// process it started: the caller itself goes on as the daemon.
bool stayInForeground();

}  // namespace quorin
