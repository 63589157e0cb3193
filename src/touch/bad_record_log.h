#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ostream>

#include "touch/report_limit.h"

namespace quorin {

constexpr int kReportBurst = 5;
constexpr std::chrono::seconds kReportInterval{60};

// Where the decoder's bad-record reports go. A line at the wrong speed is
// all garbage, and each report shows the whole frame buffer, so the log
// file (in /tmp, often RAM) must not take one report per rejected record:
// - every rejected record is counted;
// - one that lies within text an earlier report showed is not reported
//   again (decoding retries at every ESC of that text);
// - the rest go out within the report limit, and a line in front of the
//   next one that goes out counts those held back.
class BadRecordLog {
public:
    using Now = ReportLimit::Clock::time_point (*)();

    explicit BadRecordLog(std::ostream& out, Now now = &ReportLimit::Clock::now);

    // The record at `start` of the frame buffer is malformed.
    void rejected(const char* frameText, std::size_t length, std::size_t start);

    // `count` characters left the front of the frame buffer.
    void dropped(std::size_t count) { shown = count < shown ? shown - count : 0; }

    std::uint64_t badRecords() const { return seen; }

private:
    std::ostream& out;
    Now now;
    ReportLimit limit{kReportBurst, kReportInterval};
    std::size_t shown = 0;  // characters at the front of the buffer that a report showed
    std::uint64_t seen = 0;
};

}  // namespace quorin
