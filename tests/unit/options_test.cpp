#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "daemon/options.h"

namespace quorin {
namespace {

using Action = Options::Action;

TEST(Options, WithoutArgumentsTheDaemonDetachesOnTtyS0)
{
    const Options options = parseOptions({});
    EXPECT_EQ(options.action, Action::run);
    EXPECT_FALSE(options.foreground);
    EXPECT_EQ(options.device, "/dev/ttyS0");
}

TEST(Options, ServiceModeAndDeviceInEverySpelling)
{
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"--foreground", "--device", "/dev/ttyUSB0"},
             {"-d", "/dev/ttyUSB0", "-f"},
             {"--device=/dev/ttyUSB0", "--foreground"},
             {"--device", "/dev/ttyS1", "--foreground", "--device=/dev/ttyUSB0"}}) {
        const Options options = parseOptions(arguments);
        EXPECT_EQ(options.action, Action::run) << arguments[0];
        EXPECT_TRUE(options.foreground) << arguments[0];
        EXPECT_EQ(options.device, "/dev/ttyUSB0") << arguments[0];
    }
}

TEST(Options, TheServiceWritesItsMetricsWhereNodeExporterLooksOrWhereAsked)
{
    EXPECT_EQ(parseOptions({"-f"}).metricsFile, "/var/lib/prometheus/node-exporter/quorin.prom");
    EXPECT_EQ(parseOptions({"-f", "--metrics-file", "/run/m.prom"}).metricsFile, "/run/m.prom");
    EXPECT_EQ(parseOptions({"--metrics-file=/run/m.prom", "-f"}).metricsFile, "/run/m.prom");
}

TEST(Options, TheServiceFollowsTheOneConnectedScreenOrTheOneNamedOrNone)
{
    EXPECT_EQ(parseOptions({"-f"}).screen, "");
    EXPECT_EQ(parseOptions({"-f", "--screen", "card0-HDMI-A-1"}).screen, "card0-HDMI-A-1");
    EXPECT_EQ(parseOptions({"--screen=none", "-f"}).screen, "none");
}

TEST(Options, HelpAndVersionAnswerWhateverElseIsGiven)
{
    EXPECT_EQ(parseOptions({"--foreground", "--help"}).action, Action::help);
    EXPECT_EQ(parseOptions({"-h"}).action, Action::help);
    EXPECT_EQ(parseOptions({"--device", "/dev/x", "-V"}).action, Action::version);
}

TEST(Options, BadCommandLinesSayWhatIsWrong)
{
    const struct {
        std::vector<std::string> arguments;
        const char* error;
    } cases[] = {
        {{"--bogus"}, "unknown argument '--bogus'"},
        {{"/dev/ttyUSB0"}, "unknown argument '/dev/ttyUSB0'"},
        {{"--foreground=yes"}, "unknown argument '--foreground=yes'"},
        {{"--device"}, "option '--device' needs a path"},
        {{"-f", "-d"}, "option '-d' needs a path"},
        {{"--device="}, "the device path is empty"},
        {{"--help", "--bogus"}, "unknown argument '--bogus'"},
        {{"--metrics-file", "/tmp/m.prom"}, "--metrics-file goes with --foreground"},
        {{"-f", "--metrics-file"}, "option '--metrics-file' needs a path"},
        {{"-f", "--metrics-file="}, "the metrics file's path is empty"},
        {{"-f", "--metrics-file=quorin.prom"}, "the metrics file's path must be absolute"},
        {{"--screen", "none"}, "--screen goes with --foreground"},
        {{"-f", "--screen"}, "option '--screen' needs a name"},
        {{"-f", "--screen="}, "the screen's name is empty"},
        {{"-f", "--screen", "../card0-DP-1"},
         "the screen is named as in /sys/class/drm, such as card0-HDMI-A-1"},
        {{"-f", "--screen", ".."},
         "the screen is named as in /sys/class/drm, such as card0-HDMI-A-1"},
    };
    for (const auto& bad : cases) {
        const Options options = parseOptions(bad.arguments);
        EXPECT_EQ(options.action, Action::usageError) << bad.error;
        EXPECT_EQ(options.error, bad.error);
    }
}

}  // namespace
}  // namespace quorin
