#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "daemon/files/whole_file.h"

namespace quorin {

// The service's metrics file, for node-exporter's textfile collector. A
// new text is written whole under a temporary name beside it and renamed
// over it, so that a scrape never reads half a file; at most once a
// second, and only when it changed. A file that cannot be written (no
// node-exporter, so no directory) is reported once per run of failures
// and is no error. The file is removed at the orderly stop: a stopped
// daemon must not read as an idle one.
class MetricsFile {
public:
    using Clock = std::chrono::steady_clock;

    explicit MetricsFile(std::string path);
    ~MetricsFile();
    MetricsFile(const MetricsFile&) = delete;
    MetricsFile& operator=(const MetricsFile&) = delete;

    void update(const std::string& text, Clock::time_point now);

private:
    WholeFile file;
    std::string written;
    std::optional<Clock::time_point> lastWrite;
};

}  // namespace quorin
