#pragma once

#include <chrono>

namespace quorin {

// Lets a burst of reports through, then at most one per interval, as the
// kernel limits its own messages; a quiet spell earns the burst back. The
// reports it holds back are counted.
class ReportLimit {
public:
    using Clock = std::chrono::steady_clock;

    ReportLimit(int burst, Clock::duration interval);

    // Whether a report may go out at `now`; one that may not is counted.
    bool allow(Clock::time_point now);

    // The reports held back since the last call.
    unsigned long takeLeftOut();

private:
    void refill(Clock::time_point now);

    int burst;
    Clock::duration interval;
    int allowance;
    Clock::time_point counted;  // allowance is earned from here on
    unsigned long leftOut = 0;
};

}  // namespace quorin
