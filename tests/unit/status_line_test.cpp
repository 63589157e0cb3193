#include <gtest/gtest.h>

#include <chrono>

#include "daemon/service_monitor.h"
#include "daemon/status_line.h"

namespace quorin {
namespace {

using std::chrono::seconds;

TEST(StatusLine, TellsEachStateOfTheLineApart)
{
    const struct {
        Health health;
        const char* device;
        const char* line;
    } cases[] = {
        {{}, "ttyS0", "ttyS0: no records yet, 0 bad; brightness not set yet"},
        {{18233, 4, seconds(2), 15, false},
         "ttyS0",
         "ttyS0: 18 233 records, 4 bad, last 2 s ago; brightness 15"},
        {{1, 0, seconds(59), 0, false},
         "ttyUSB0",
         "ttyUSB0: 1 record, 0 bad, last 59 s ago; brightness 0"},
        {{12, 1234567, seconds(3600), 31, true},
         "ttyS0",
         "ttyS0: line failing, 12 records, 1 234 567 bad, last 1 h ago; brightness 31"},
        {{0, 40, std::nullopt, -1, true},
         "ttyS0",
         "ttyS0: line failing, no records yet, 40 bad; brightness not set yet"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatStatusLine(c.device, c.health), c.line);
}

TEST(StatusLine, AFollowedScreenSaysWhetherItIsOnAndTheLevelItComesBackTo)
{
    Health health{3, 0, seconds(1), 15, false};
    health.brightnessWanted = 15;
    health.screenOn = true;
    EXPECT_EQ(formatStatusLine("ttyS0", health),
              "ttyS0: 3 records, 0 bad, last 1 s ago; brightness 15; screen on");
    health.brightnessLevel = 0;
    health.screenOn = false;
    EXPECT_EQ(formatStatusLine("ttyS0", health),
              "ttyS0: 3 records, 0 bad, last 1 s ago; brightness 0; screen off, 15 when on");
    health.brightnessWanted = -1;
    EXPECT_EQ(formatStatusLine("ttyS0", health),
              "ttyS0: 3 records, 0 bad, last 1 s ago; brightness 0; screen off");
}

TEST(StatusLine, CountsInGroupsAndTimesCoarsenAsTheyGrow)
{
    EXPECT_EQ(groupedCount(0), "0");
    EXPECT_EQ(groupedCount(999), "999");
    EXPECT_EQ(groupedCount(1000), "1 000");
    EXPECT_EQ(groupedCount(18446744073709551615u), "18 446 744 073 709 551 615");
    const struct {
        long long seconds;
        const char* text;
    } times[] = {{0, "0 s"},    {59, "59 s"},        {60, "1 min"},      {3599, "59 min"},
                 {3600, "1 h"}, {47 * 3600, "47 h"}, {48 * 3600, "2 d"}, {400 * 86400, "400 d"}};
    for (const auto& t : times)
        EXPECT_EQ(roughDuration(seconds(t.seconds)), t.text);
}

TEST(StatusLine, TicksEachSecondOrTwicePerWatchdogInterval)
{
    using std::chrono::microseconds;
    EXPECT_EQ(monitorPeriod(microseconds(0)), seconds(1));
    EXPECT_EQ(monitorPeriod(seconds(5)), seconds(1));
    EXPECT_EQ(monitorPeriod(microseconds(1200000)), microseconds(600000));
}

}  // namespace
}  // namespace quorin
