#pragma once

#include <sys/types.h>

#include <string>

namespace quorin {

// Replaces the file at `path` by one that holds `text`, with this mode:
// written under `temporary` beside it (never through a link) and renamed
// over it, so that a reader finds the old file or the new one, never half
// of one. `durable` syncs the new file to the disk before the rename, so
// that a power cut leaves one of the two there too. Returns false with
// errno set when any step fails; the temporary file is gone then.
bool replaceFileWhole(const std::string& path, const std::string& temporary,
                      const std::string& text, mode_t mode, bool durable);

// A file of mode 0644 that the daemon replaces whole, again and again,
// through `path` + ".tmp". A failure is logged once for each run of
// failures, at this priority, as "<failure> <path>: <reason>".
class WholeFile {
public:
    WholeFile(std::string path, const char* failure, int priority, bool durable);

    bool replace(const std::string& text);
    const std::string& path() const { return named; }

private:
    const std::string named;
    const std::string temporary;
    const char* const failure;
    const int priority;
    const bool durable;
    bool failing = false;
};

}  // namespace quorin
