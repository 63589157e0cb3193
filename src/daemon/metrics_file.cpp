#include "daemon/metrics_file.h"

#include <syslog.h>
#include <unistd.h>

#include <utility>

#include "daemon/files/whole_file.h"

namespace quorin {

namespace {

constexpr std::chrono::seconds kLeastInterval{1};

// The collector reads only *.prom files: the temporary name is never
// scraped.
constexpr const char* kTemporarySuffix = ".tmp";

}  // namespace

MetricsFile::MetricsFile(std::string path)
    : path(std::move(path)),
      temporary(this->path + kTemporarySuffix)
{
}

MetricsFile::~MetricsFile()
{
    if (!written.empty())
        unlink(path.c_str());
}

void MetricsFile::update(const std::string& text, Clock::time_point now)
{
    if (text == written || (lastWrite && now - *lastWrite < kLeastInterval))
        return;
    lastWrite = now;
    const bool done = replaceFileWhole(path, temporary, text, 0644, false);
    if (!done && !failing)
        syslog(LOG_USER | LOG_NOTICE, "Metrics not written to %s: %m", path.c_str());
    failing = !done;
    if (done)
        written = text;
}

}  // namespace quorin
