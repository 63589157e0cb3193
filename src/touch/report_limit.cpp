#include "touch/report_limit.h"

#include <algorithm>

namespace quorin {

ReportLimit::ReportLimit(int burst, Clock::duration interval)
    : burst(burst),
      interval(interval),
      allowance(burst)
{
}

bool ReportLimit::allow(Clock::time_point now)
{
    refill(now);
    if (allowance == 0) {
        ++leftOut;
        return false;
    }
    --allowance;
    return true;
}

unsigned long ReportLimit::takeLeftOut()
{
    const unsigned long count = leftOut;
    leftOut = 0;
    return count;
}

// One report earned per whole interval; a full allowance earns nothing, so
// the interval after a burst counts from the burst's first report.
void ReportLimit::refill(Clock::time_point now)
{
    if (allowance == burst) {
        counted = now;
        return;
    }
    const auto earned = (now - counted) / interval;
    if (earned <= 0)
        return;
    allowance = static_cast<int>(std::min<decltype(earned)>(burst, allowance + earned));
    counted += earned * interval;
}

}  // namespace quorin
