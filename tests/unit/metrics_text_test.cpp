#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <string>

#include "daemon/metrics_text.h"

namespace quorin {
namespace {

Metrics runningService()
{
    Metrics metrics;
    metrics.port = "ttyS0";
    metrics.version = "1.4.0";
    metrics.health.records = 18233;
    metrics.health.badRecords = 4;
    metrics.health.brightnessLevel = 0;
    metrics.health.commandsSent = 7;
    metrics.health.commandsGivenUp = 1;
    metrics.lastRecordTime = 1796860800;
    metrics.startTime = 1796774400;
    return metrics;
}

TEST(MetricsText, EveryFamilyWithItsHelpTypeAndPort)
{
    EXPECT_EQ(formatMetrics(runningService()),
              "# HELP quorin_records_total Touch records decoded from the controller's line.\n"
              "# TYPE quorin_records_total counter\n"
              "quorin_records_total{port=\"ttyS0\"} 18233\n"
              "# HELP quorin_records_rejected_total Damaged records skipped on the controller's "
              "line.\n"
              "# TYPE quorin_records_rejected_total counter\n"
              "quorin_records_rejected_total{port=\"ttyS0\"} 4\n"
              "# HELP quorin_last_record_timestamp_seconds When the last record came, to the "
              "second.\n"
              "# TYPE quorin_last_record_timestamp_seconds gauge\n"
              "quorin_last_record_timestamp_seconds{port=\"ttyS0\"} 1796860800\n"
              "# HELP quorin_brightness_commands_total Brightness commands written to the "
              "controller.\n"
              "# TYPE quorin_brightness_commands_total counter\n"
              "quorin_brightness_commands_total{port=\"ttyS0\"} 7\n"
              "# HELP quorin_brightness_level The brightness level last sent, 0 to 31.\n"
              "# TYPE quorin_brightness_level gauge\n"
              "quorin_brightness_level{port=\"ttyS0\"} 0\n"
              "# HELP quorin_brightness_commands_given_up_total Brightness commands not sent: the "
              "write failed, or a stop gave up one the line held back.\n"
              "# TYPE quorin_brightness_commands_given_up_total counter\n"
              "quorin_brightness_commands_given_up_total{port=\"ttyS0\"} 1\n"
              "# HELP quorin_start_time_seconds When the daemon started.\n"
              "# TYPE quorin_start_time_seconds gauge\n"
              "quorin_start_time_seconds{port=\"ttyS0\"} 1796774400\n"
              "# HELP quorin_build_info The daemon's version, as a label.\n"
              "# TYPE quorin_build_info gauge\n"
              "quorin_build_info{port=\"ttyS0\",version=\"1.4.0\"} 1\n");
}

// Counters run for years: no rounding through a double, no sign.
TEST(MetricsText, CountsAreWholeNumbersToTheLastDigit)
{
    Metrics metrics = runningService();
    metrics.health.records = std::numeric_limits<std::uint64_t>::max();
    metrics.health.badRecords = 0;
    const std::string text = formatMetrics(metrics);
    EXPECT_NE(text.find("\nquorin_records_total{port=\"ttyS0\"} 18446744073709551615\n"),
              std::string::npos);
    EXPECT_NE(text.find("\nquorin_records_rejected_total{port=\"ttyS0\"} 0\n"), std::string::npos);
}

// A family without a sample would be scraped as a value of nothing known.
TEST(MetricsText, BeforeTheFirstRecordAndCommandTheirFiguresAreLeftOut)
{
    Metrics metrics = runningService();
    metrics.lastRecordTime.reset();
    metrics.health.brightnessLevel = -1;
    const std::string text = formatMetrics(metrics);
    EXPECT_EQ(text.find("quorin_last_record_timestamp_seconds"), std::string::npos);
    EXPECT_EQ(text.find("quorin_brightness_level"), std::string::npos);
    EXPECT_NE(text.find("\nquorin_brightness_commands_total{port=\"ttyS0\"} 7\n"),
              std::string::npos);
}

// Only a followed screen has a state to show.
TEST(MetricsText, TheScreenIsShownOnlyWhereOneIsFollowed)
{
    Metrics metrics = runningService();
    EXPECT_EQ(formatMetrics(metrics).find("quorin_screen_on"), std::string::npos);
    metrics.health.screenOn = false;
    EXPECT_NE(
        formatMetrics(metrics).find("# HELP quorin_screen_on Whether the screen the backlight "
                                    "follows is on (1) or blanked (0).\n# TYPE "
                                    "quorin_screen_on gauge\nquorin_screen_on{port=\"ttyS0\"} 0\n"),
        std::string::npos);
}

// A device given as --device may be named anything a file can be.
TEST(MetricsText, AnOddDeviceNameCannotBreakTheLabel)
{
    EXPECT_EQ(escapeLabelValue("tty\"S0\\x\ny"), "tty\\\"S0\\\\x\\ny");
    Metrics metrics = runningService();
    metrics.port = "usb\"0\n";
    std::istringstream lines(formatMetrics(metrics));
    int samples = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line[0] == '#')
            continue;
        ++samples;
        EXPECT_EQ(line.find("{port=\"usb\\\"0\\n\""), line.find('{')) << line;
    }
    EXPECT_EQ(samples, 8);
}

}  // namespace
}  // namespace quorin
