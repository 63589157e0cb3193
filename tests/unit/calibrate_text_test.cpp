#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calibrate/calibrate_options.h"
#include "calibrate/input/device_lookup.h"
#include "calibrate/install/matrix_text.h"

namespace quorin::calibrate {
namespace {

using Action = CalibrateOptions::Action;

TEST(MatrixText, PlainDecimalsLibinputReads)
{
    EXPECT_EQ(matrixText({1, 0, 0, 0, 1, 0}), "1 0 0 0 1 0");
    EXPECT_EQ(matrixText({-1, -0.0, 1, 0, -1, 1}), "-1 0 1 0 -1 1");
    EXPECT_EQ(matrixText({0.9090909, 1e-9, 0.055, -2e-7, 1234.5, -0.0000006}),
              "0.909091 0 0.055 0 1234.5 -0.000001");
}

TEST(MatrixText, ParsesWhatItPrintsAndRefusesTheRest)
{
    const Matrix matrix{0, -1.03084, 1.010178, 1.030706, 0.000487, -0.010373};
    const std::optional<Matrix> parsed = parseMatrix(matrixText(matrix));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, matrix);
    EXPECT_TRUE(parseMatrix("  1 0 0\t0 1 0 \n"));
    for (const char* bad : {"", "1 0 0 0 1", "1 0 0 0 1 0 0", "1 0 0 0 1 x", "1,0,0,0,1,0",
                            "1 0 0 0 1 nan", "2 4 0 1 2 0", "0 0 0 0 0 0"})
        EXPECT_FALSE(parseMatrix(bad)) << bad;
}

TEST(MatrixText, RuleMatchesTheDeviceAsTheShippedExampleDoes)
{
    EXPECT_EQ(udevRuleLine({-1, 0, 1, 0, -1, 1}),
              "SUBSYSTEM==\"input\", KERNEL==\"event*\", ATTRS{name}==\"uinput-touch\", "
              "ENV{LIBINPUT_CALIBRATION_MATRIX}=\"-1 0 1 0 -1 1\"");
    const std::string file = rulesFileText({1, 0, 0, 0, 1, 0});
    EXPECT_EQ(file.back(), '\n');
    EXPECT_NE(file.find("\n" + udevRuleLine({1, 0, 0, 0, 1, 0}) + "\n"), std::string::npos);
    for (std::size_t line = 0; line < file.find("SUBSYSTEM"); line = file.find('\n', line) + 1)
        EXPECT_EQ(file[line], '#');
}

TEST(DeviceLookup, FindsTheLowestEventNodeWithTheName)
{
    const std::vector<InputEntry> entries = {
        {"input7", "uinput-touch\n"},  {"mouse0", "uinput-touch\n"},
        {"event12", "uinput-touch\n"}, {"event3", "AT Translated Set 2 keyboard\n"},
        {"event4", "uinput-touch\n"},  {"event5", "uinput-touch-2\n"},
        {"event40", "uinput-touch\n"},
    };
    EXPECT_EQ(findEventNode(entries, "uinput-touch"), "/dev/input/event4");
    EXPECT_FALSE(
        findEventNode({{"event3", "keyboard\n"}, {"input1", "uinput-touch\n"}}, "uinput-touch"));
    EXPECT_FALSE(findEventNode({}, "uinput-touch"));
    EXPECT_EQ(eventNumber("event0"), 0);
    for (const char* other : {"event", "event-1", "event1a", "events1", "event12345678", ""})
        EXPECT_EQ(eventNumber(other), -1) << other;
}

TEST(CalibrateOptions, WithoutArgumentsTheGuidedRunOnTheFirstDisplayThatWorks)
{
    const CalibrateOptions options = parseCalibrateOptions({});
    EXPECT_EQ(options.action, Action::calibrate);
    EXPECT_EQ(options.display, DisplayChoice::automatic);
    EXPECT_TRUE(options.touchDevice.empty());
    EXPECT_FALSE(options.install);
    EXPECT_EQ(options.timeoutSeconds, 60);
    EXPECT_EQ(options.minSamples, 3);
}

TEST(CalibrateOptions, EveryOptionInBothSpellings)
{
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"--display", "drm", "--device", "/dev/input/event7", "--timeout", "5", "--samples",
              "1", "-i", "--drm-device", "/dev/dri/card1", "--fb-device", "/dev/fb1"},
             {"--display=drm", "-d", "/dev/input/event7", "-t", "5", "--samples=1", "--install",
              "--drm-device=/dev/dri/card1", "--fb-device=/dev/fb1"}}) {
        const CalibrateOptions options = parseCalibrateOptions(arguments);
        EXPECT_EQ(options.action, Action::calibrate) << options.error;
        EXPECT_EQ(options.display, DisplayChoice::drm);
        EXPECT_EQ(options.touchDevice, "/dev/input/event7");
        EXPECT_EQ(options.timeoutSeconds, 5);
        EXPECT_EQ(options.minSamples, 1);
        EXPECT_TRUE(options.install);
        EXPECT_EQ(options.drmDevice, "/dev/dri/card1");
        EXPECT_EQ(options.fbDevice, "/dev/fb1");
    }
    EXPECT_EQ(parseCalibrateOptions({"--display", "x11"}).display, DisplayChoice::x11);
}

TEST(CalibrateOptions, InstallingGivenNumbersSkipsTheGuidedRun)
{
    const CalibrateOptions options =
        parseCalibrateOptions({"--install", "--matrix", "0 -1 1 1 0 0"});
    EXPECT_EQ(options.action, Action::installMatrix);
    EXPECT_EQ(options.matrix, (Matrix{0, -1, 1, 1, 0, 0}));
    EXPECT_EQ(parseCalibrateOptions({"--matrix=1 0 0 0 1 0", "-i"}).action, Action::installMatrix);
    EXPECT_EQ(parseCalibrateOptions({"--matrix", "1 0 0 0 1 0", "-h"}).action, Action::help);
}

TEST(CalibrateOptions, BadCommandLinesSayWhatIsWrong)
{
    const struct {
        std::vector<std::string> arguments;
        const char* error;
    } cases[] = {
        {{"--bogus"}, "unknown argument '--bogus'"},
        {{"event3"}, "unknown argument 'event3'"},
        {{"--device"}, "option '--device' needs a value"},
        {{"--device="}, "option '--device' needs a value"},
        {{"--display", "x"}, "--display takes auto, wayland, x11, drm or fbdev"},
        {{"--timeout", "0"}, "--timeout takes a number of seconds from 1 to 3600"},
        {{"--timeout", "-5"}, "--timeout takes a number of seconds from 1 to 3600"},
        {{"--timeout=99999999999"}, "--timeout takes a number of seconds from 1 to 3600"},
        {{"--samples", "many"}, "--samples takes a number from 1 to 1000"},
        {{"--matrix", "1 0 0 0 1 0"}, "--matrix goes with --install"},
        {{"-i", "--matrix", "1 0 0 0 0 0"},
         "--matrix takes six numbers \"a b c d e f\" with a*e - b*d not 0"},
    };
    for (const auto& bad : cases) {
        const CalibrateOptions options = parseCalibrateOptions(bad.arguments);
        EXPECT_EQ(options.action, Action::usageError) << bad.error;
        EXPECT_EQ(options.error, bad.error);
    }
}

}  // namespace
}  // namespace quorin::calibrate
