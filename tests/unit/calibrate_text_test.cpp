#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calibrate/calibrate_options.h"
#include "calibrate/input/device_lookup.h"
#include "calibrate/install/labwc_config.h"
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

// weston reads WL_OUTPUT from the device: the rule ties it, and the root
// command a user's run prints carries the output to the rule.
TEST(MatrixText, WithAnOutputTheRuleTiesTheDeviceToItForWeston)
{
    const Matrix matrix{1, 0, 0, 0, 1, 0};
    EXPECT_EQ(udevRuleLine(matrix, "HDMI-A-1"),
              udevRuleLine(matrix) + ", ENV{WL_OUTPUT}=\"HDMI-A-1\"");
    EXPECT_NE(rulesFileText(matrix, "DP-2").find("ENV{WL_OUTPUT}=\"DP-2\"\n"), std::string::npos);
    EXPECT_EQ(installCommand(matrix, "Virtual-2"),
              "sudo quorin-calibrate --install --matrix \"1 0 0 0 1 0\" --output Virtual-2");
    EXPECT_EQ(installCommand(matrix), "sudo quorin-calibrate --install --matrix \"1 0 0 0 1 0\"");
    for (const char* plain : {"Virtual-1", "HDMI-A-1", "eDP-1", "DisplayPort-0", "WL.1:2_x"})
        EXPECT_TRUE(isPlainOutputName(plain)) << plain;
    for (const std::string& odd :
         std::vector<std::string>{"", "a\"b", "HDMI 1", "x\ny", "a$b", "<b>", std::string(65, 'a')})
        EXPECT_FALSE(isPlainOutputName(odd)) << odd;
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

TEST(DeviceLookup, UdevsPropertiesOfTheDevice)
{
    const std::string database = "I:2815\nE:ID_INPUT=1\nE:ID_INPUT_TOUCHSCREEN=1\n"
                                 "E:LIBINPUT_CALIBRATION_MATRIX=1 0 0 0 1 0\nE:WL_OUTPUT=HDMI-A-2";
    EXPECT_EQ(udevProperty(database, "WL_OUTPUT"), "HDMI-A-2");
    EXPECT_EQ(udevProperty(database, "LIBINPUT_CALIBRATION_MATRIX"), "1 0 0 0 1 0");
    EXPECT_EQ(udevProperty(database, "ID_INPUT"), "1");
    EXPECT_EQ(udevProperty(database, "INPUT"), "");
    EXPECT_EQ(udevProperty("", "WL_OUTPUT"), "");
    EXPECT_EQ(udevProperty("S:input/by-path/WL_OUTPUT=x\n", "WL_OUTPUT"), "");
}

// labwc ties a touch device to an output in rc.xml; the user's file is
// edited, so what else it says is kept.
TEST(LabwcConfig, TheTouchElementForTheDeviceIsReadWhicheverWayItIsWritten)
{
    const std::string device = "uinput-touch";
    EXPECT_EQ(labwcTouchOutput("<labwc_config><touch deviceName=\"uinput-touch\" "
                               "mapToOutput=\"HDMI-A-1\"/></labwc_config>",
                               device),
              "HDMI-A-1");
    EXPECT_EQ(labwcTouchOutput("<touch mapToOutput = 'DP-1' deviceName='uinput-touch' />", device),
              "DP-1");
    EXPECT_EQ(labwcTouchOutput("<touch>\n <deviceName>uinput-touch</deviceName>\n "
                               "<mapToOutput> DP-3 </mapToOutput>\n</touch>",
                               device),
              "DP-3");
    EXPECT_EQ(
        labwcTouchOutput("<!-- <touch deviceName=\"uinput-touch\" mapToOutput=\"X\"/> -->", device),
        "");
    EXPECT_EQ(labwcTouchOutput("<touch deviceName=\"other\" mapToOutput=\"X\"/>"
                               "<touchpad deviceName=\"uinput-touch\" mapToOutput=\"Y\"/>",
                               device),
              "");
    EXPECT_EQ(labwcTouchOutput("<touch deviceName=\"uinput-touch\"/>", device), "");
}

TEST(LabwcConfig, TyingKeepsTheRestAndReadsBackAsTied)
{
    const std::string device = "uinput-touch";
    const struct {
        std::string before;
        std::string after;
    } cases[] = {
        {emptyLabwcConfig(),
         "<?xml version=\"1.0\"?>\n<labwc_config>\n  <touch deviceName=\"uinput-touch\" "
         "mapToOutput=\"DP-2\" />\n</labwc_config>\n"},
        {"<labwc_config>\n  <theme/>\n  <!-- </labwc_config> -->\n</labwc_config>",
         "<labwc_config>\n  <theme/>\n  <!-- </labwc_config> -->\n  <touch "
         "deviceName=\"uinput-touch\" mapToOutput=\"DP-2\" />\n</labwc_config>"},
        {"<openbox_config><touch deviceName=\"uinput-touch\" mapToOutput=\"HDMI-A-1\" "
         "mouseEmulation=\"yes\"/></openbox_config>",
         "<openbox_config><touch deviceName=\"uinput-touch\" mapToOutput=\"DP-2\" "
         "mouseEmulation=\"yes\"/></openbox_config>"},
        {"<labwc_config><touch deviceName=\"uinput-touch\" mouseEmulation=\"yes\"/></labwc_config>",
         "<labwc_config><touch deviceName=\"uinput-touch\" mouseEmulation=\"yes\" "
         "mapToOutput=\"DP-2\" /></labwc_config>"},
        {"<labwc_config><touch><deviceName>uinput-touch</deviceName></touch></labwc_config>",
         "<labwc_config><touch><deviceName>uinput-touch</deviceName><mapToOutput>DP-2"
         "</mapToOutput></touch></labwc_config>"},
    };
    for (const auto& c : cases) {
        const std::optional<std::string> tied = withLabwcTouchOutput(c.before, device, "DP-2");
        ASSERT_TRUE(tied) << c.before;
        EXPECT_EQ(*tied, c.after);
        EXPECT_EQ(labwcTouchOutput(*tied, device), "DP-2") << *tied;
    }
    EXPECT_FALSE(withLabwcTouchOutput("<labwc_config>", device, "DP-2"));
    EXPECT_FALSE(withLabwcTouchOutput("<!-- </labwc_config> -->", device, "DP-2"));
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
    EXPECT_EQ(parseCalibrateOptions({"--output", "HDMI-A-1"}).output, "HDMI-A-1");
    const CalibrateOptions tied =
        parseCalibrateOptions({"-i", "--matrix", "1 0 0 0 1 0", "--output=DP-1"});
    EXPECT_EQ(tied.action, Action::installMatrix);
    EXPECT_EQ(tied.output, "DP-1");
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
        {{"--output", "HDMI\" ENV{X}=\""},
         "--output takes an output's name, such as HDMI-A-1: letters, digits and -_.:"},
        {{"--output="},
         "--output takes an output's name, such as HDMI-A-1: letters, digits and -_.:"},
        {{"--output", "DP-1", "--display", "fbdev"},
         "--output goes with a display server or DRM: the framebuffer has one screen"},
    };
    for (const auto& bad : cases) {
        const CalibrateOptions options = parseCalibrateOptions(bad.arguments);
        EXPECT_EQ(options.action, Action::usageError) << bad.error;
        EXPECT_EQ(options.error, bad.error);
    }
}

}  // namespace
}  // namespace quorin::calibrate
