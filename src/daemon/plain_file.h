#pragma once

#include <sys/stat.h>

namespace quorin {

// /tmp is world-writable and the daemon runs as root: a file it opens there
// by name must be a plain file with no other name. Returns the errno to
// refuse the open descriptor with (EINVAL for anything but a regular file,
// EMLINK for a second name of another file, fstat's own error), or 0.
int plainFileRefusal(int fd);

// The same for a file as lstat describes the name: a symbolic link is
// refused as opening it with O_NOFOLLOW would be (ELOOP).
int plainFileRefusal(const struct stat& named);

// `fd` when `refusal` is 0; else closes it and returns -1 with errno set
// to `refusal`, as a failed open would.
int keepUnlessRefused(int fd, int refusal);

}  // namespace quorin
