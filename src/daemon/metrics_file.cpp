#include "daemon/metrics_file.h"

#include <syslog.h>
#include <unistd.h>

#include <utility>

#include "daemon/files/whole_file.h"

namespace quorin {

namespace {

constexpr std::chrono::seconds kLeastInterval{1};

}  // namespace

// The collector reads only *.prom files: the temporary name is never
// scraped.
MetricsFile::MetricsFile(std::string path)
    : file(std::move(path), "Metrics not written to", LOG_NOTICE, false)
{
}

MetricsFile::~MetricsFile()
{
    if (!written.empty())
        unlink(file.path().c_str());
}

void MetricsFile::update(const std::string& text, Clock::time_point now)
{
    if (text == written || (lastWrite && now - *lastWrite < kLeastInterval))
        return;
    lastWrite = now;
    if (file.replace(text))
        written = text;
}

}  // namespace quorin
