#pragma once

namespace quorin {

// Opens the log file for appending, creating it with mode 0644. /tmp is
// world-writable and the daemon runs as root, so only a plain file with no
// other name is taken: a symbolic link, a FIFO or a second name of another
// file is refused with errno set (ELOOP, ENXIO or EINVAL, EMLINK). Returns
// the descriptor, the lowest free one, or -1.
int openLogFile(const char* path);

}  // namespace quorin
