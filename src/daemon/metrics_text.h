#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "daemon/status_line.h"

namespace quorin {

// The figures a fleet's Prometheus scrapes from the service, through
// node-exporter's textfile collector. Times are seconds since the epoch.
struct Metrics {
    std::string port;  // the line's device name, "ttyS0"
    std::string version;
    Health health;
    std::optional<std::int64_t> lastRecordTime;  // none before the first record
    std::int64_t startTime = 0;
};

// The Prometheus text exposition format: each metric with its # HELP and
// # TYPE lines and a `port` label. A figure not known yet (no record, no
// brightness sent) is left out, as node-exporter then shows no stale value.
std::string formatMetrics(const Metrics& metrics);

// A label value as the format quotes it: backslash, double quote and
// newline escaped.
std::string escapeLabelValue(const std::string& value);

}  // namespace quorin
