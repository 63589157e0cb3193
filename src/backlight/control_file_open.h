#pragma once

#include <sys/types.h>

namespace quorin {

constexpr const char* kControlFile = "/tmp/backlight";

// Which file a descriptor or a name leads to.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId& other) const
    {
        return device == other.device && inode == other.inode;
    }
};

// /tmp is world-writable and the daemon runs as root: the control file is
// never followed through a link, and taken only as a plain file with no
// other name (it is emptied at every start, and would empty the file it
// also names). Non-blocking, so that a FIFO in its place cannot hold the
// thread. `create` at the start only. Returns the descriptor and sets *id,
// or returns -1 with errno set.
int openControlFileByName(const char* path, bool create, FileId* id);

}  // namespace quorin
