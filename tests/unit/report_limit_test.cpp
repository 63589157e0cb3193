// The bad-record reports' limit: a burst, then one per interval.
#include <gtest/gtest.h>

#include <chrono>

#include "touch/report_limit.h"

namespace quorin {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

int allowedOf(ReportLimit& limit, int tries, ReportLimit::Clock::time_point at)
{
    int allowed = 0;
    for (int i = 0; i < tries; ++i)
        allowed += limit.allow(at);
    return allowed;
}

TEST(ReportLimit, BurstThenOnePerIntervalCountingWhatIsHeldBack)
{
    ReportLimit limit(5, seconds(60));
    const ReportLimit::Clock::time_point start{seconds(1000)};
    EXPECT_EQ(allowedOf(limit, 8, start), 5);
    EXPECT_EQ(allowedOf(limit, 2, start + milliseconds(59999)), 0);
    EXPECT_EQ(limit.takeLeftOut(), 5u);
    EXPECT_EQ(limit.takeLeftOut(), 0u) << "taking the count resets it";
    EXPECT_EQ(allowedOf(limit, 3, start + seconds(90)), 1);
    EXPECT_EQ(allowedOf(limit, 3, start + seconds(120)), 1)
        << "the intervals count from the burst, not from the last report";
    EXPECT_EQ(limit.takeLeftOut(), 4u);
}

TEST(ReportLimit, QuietSpellEarnsTheBurstBackAndNoMore)
{
    ReportLimit limit(5, seconds(60));
    const ReportLimit::Clock::time_point start{seconds(1000)};
    EXPECT_EQ(allowedOf(limit, 5, start), 5);
    EXPECT_EQ(allowedOf(limit, 10, start + seconds(2 * 60)), 2);
    EXPECT_EQ(allowedOf(limit, 10, start + seconds(60 * 60)), 5);
    EXPECT_EQ(allowedOf(limit, 10, start + seconds(60 * 60 + 1)), 0);
}

}  // namespace
}  // namespace quorin
