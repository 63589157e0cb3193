// The bad-record reports' limit: a burst, then one per interval, counted
// from the burst; a quiet spell earns the burst back and no more.
#include <gtest/gtest.h>

#include <chrono>

#include "touch/report_limit.h"

namespace quorin {
namespace {

TEST(ReportLimit, BurstThenOnePerIntervalUntilAQuietSpell)
{
    ReportLimit limit(5, std::chrono::seconds(60));
    const ReportLimit::Clock::time_point start{std::chrono::seconds(1000)};
    auto allowedOf = [&limit, start](int tries, int atSeconds) {
        int allowed = 0;
        for (int i = 0; i < tries; ++i)
            allowed += limit.allow(start + std::chrono::seconds(atSeconds));
        return allowed;
    };
    EXPECT_EQ(allowedOf(8, 0), 5);
    EXPECT_EQ(allowedOf(2, 59), 0);
    EXPECT_EQ(allowedOf(3, 90), 1);
    EXPECT_EQ(allowedOf(3, 120), 1) << "the intervals count from the burst, not the last report";
    EXPECT_EQ(limit.takeLeftOut(), 9u);
    EXPECT_EQ(limit.takeLeftOut(), 0u) << "taking the count resets it";
    EXPECT_EQ(allowedOf(10, 3600), 5);
    EXPECT_EQ(allowedOf(1, 3601), 0);
}

}  // namespace
}  // namespace quorin
