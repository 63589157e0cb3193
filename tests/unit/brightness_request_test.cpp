#include <gtest/gtest.h>

#include <string>

#include "backlight/brightness_request.h"
#include "serial/controller_command.h"

namespace quorin {
namespace {

// Text of the control file to the bytes 2 and 3 of the command it sends.
std::string digitsFor(const char* text)
{
    unsigned char command[] = {0x1B, 0x40, '1', 'F', 'i'};
    setCommandLevel(command, brightnessLevel(parseBrightnessRequest(text)));
    EXPECT_EQ(command[0], 0x1B);
    EXPECT_EQ(command[1], 0x40);
    EXPECT_EQ(command[4], 'i');
    return std::string(reinterpret_cast<const char*>(command + 2), 2);
}

TEST(BrightnessRequest, TelltaleRowsOfTheScale)
{
    const struct {
        const char* text;
        const char* digits;
    } rows[] = {
        // clang-format off
        {"0", "00"},   {"1", "00"},   {"2", "00"},   {"3", "00"},  {"4", "01"},
        {"10", "03"},  {"33", "0A"},  {"49", "0F"},  {"50", "0F"}, {"51", "0F"},
        {"52", "10"},  {"97", "1E"},  {"98", "1E"},  {"99", "1E"}, {"100", "1F"},
        {"50\n", "0F"}, {"7 percent", "02"},
        // clang-format on
    };
    for (const auto& row : rows)
        EXPECT_EQ(digitsFor(row.text), row.digits) << "text " << row.text;
}

TEST(BrightnessRequest, AnythingButAPlainPercentageAsksForFullBrightness)
{
    for (const char* text : {"250", "-5", "word", "\n", " 0", "+0", "-0", "4294967297",
                             "99999999999999999999999", "101"})
        EXPECT_EQ(parseBrightnessRequest(text), 100) << "text '" << text << "'";
}

TEST(BrightnessRequest, ReadsTheNumberTheWayStrtolDoes)
{
    EXPECT_EQ(parseBrightnessRequest("+40"), 40);
    EXPECT_EQ(parseBrightnessRequest("  \t 40"), 40);
    EXPECT_EQ(parseBrightnessRequest("007"), 7);
    EXPECT_EQ(parseBrightnessRequest("0x10"), 0);
    EXPECT_EQ(parseBrightnessRequest("00"), 0);
}

TEST(BrightnessLevel, EveryPercentageGivesALevelItsCommandCanCarry)
{
    int previous = 0;
    for (int percent = 0; percent <= 100; ++percent) {
        const int level = brightnessLevel(percent);
        EXPECT_EQ(level, 31 * percent / 100);
        EXPECT_GE(level, previous);
        previous = level;
    }
    EXPECT_EQ(brightnessLevel(99), 30);
    EXPECT_EQ(brightnessLevel(100), 31);
}

TEST(ControlText, StopRequestWinsOverEveryOtherTest)
{
    EXPECT_EQ(classifyControlText("exit", ""), ControlAction::stop);
    EXPECT_EQ(classifyControlText("50 and then exit\n", ""), ControlAction::stop);
    EXPECT_EQ(classifyControlText("nexity", "nexity"), ControlAction::stop);
    EXPECT_NE(classifyControlText("EXIT", ""), ControlAction::stop);
    EXPECT_NE(classifyControlText("exi t", ""), ControlAction::stop);
}

TEST(ControlText, OnlyAChangedNonEmptyTextIsApplied)
{
    EXPECT_EQ(classifyControlText("", ""), ControlAction::none);
    EXPECT_EQ(classifyControlText("", "50\n"), ControlAction::none);
    EXPECT_EQ(classifyControlText("50\n", "50\n"), ControlAction::none);
    EXPECT_EQ(classifyControlText("50", "50\n"), ControlAction::apply);
    EXPECT_EQ(classifyControlText("5", "100"), ControlAction::apply);
    EXPECT_EQ(classifyControlText("50\n", ""), ControlAction::apply);
}

}  // namespace
}  // namespace quorin
