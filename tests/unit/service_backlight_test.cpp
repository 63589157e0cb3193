// The service's backlight: how a screen's reads become changes, which
// level each change sends, and the kept level's file. Which screen is
// followed, and what is logged, the system tests show.
#include <gtest/gtest.h>

#include <optional>

#include "backlight/backlight_levels.h"
#include "backlight/brightness_store.h"
#include "backlight/screen_policy.h"
#include "backlight/screen_power.h"

namespace quorin {
namespace {

using std::nullopt;

TEST(ScreenPower, BlankedOrDisabledIsOffAndAHalfWrittenFileChangesNothing)
{
    EXPECT_EQ(parseScreenPower("On\n", "enabled\n"), ScreenPower::on);
    EXPECT_EQ(parseScreenPower("On\n", nullptr), ScreenPower::on);
    for (const char* blanked : {"Off\n", "Standby\n", "Suspend\n"})
        EXPECT_EQ(parseScreenPower(blanked, "enabled\n"), ScreenPower::off) << blanked;
    EXPECT_EQ(parseScreenPower("On\n", "disabled\n"), ScreenPower::off);
    EXPECT_EQ(parseScreenPower("", "enabled\n"), ScreenPower::unclear);
    EXPECT_EQ(parseScreenPower("O", nullptr), ScreenPower::unclear);
}

TEST(ScreenPower, OnlyConnectorsAreTakenFromTheDirectory)
{
    for (const char* name : {"card0-HDMI-A-1", "card1-eDP-1", "card12-Virtual-1"})
        EXPECT_TRUE(isConnectorName(name)) << name;
    for (const char* name : {"card0", "card0-", "renderD128", "version", "cardX-DP-1", "ttyS0"})
        EXPECT_FALSE(isConnectorName(name)) << name;
}

TEST(ScreenPowerFilter, OnAtOnceOffOnlyWhenReadTwiceAndReadMoreOftenWhileDark)
{
    ScreenPowerFilter filter;
    EXPECT_TRUE(filter.on());
    EXPECT_EQ(filter.take(ScreenPower::unclear), nullopt);
    EXPECT_EQ(filter.take(ScreenPower::on), nullopt);
    EXPECT_EQ(filter.nextRead(), kScreenReadWhileOn);
    // A mode set's blink: one read off between two on.
    EXPECT_EQ(filter.take(ScreenPower::off), nullopt);
    EXPECT_EQ(filter.nextRead(), kScreenReadWhileOff);
    EXPECT_EQ(filter.take(ScreenPower::on), nullopt);
    EXPECT_EQ(filter.nextRead(), kScreenReadWhileOn);
    EXPECT_EQ(filter.take(ScreenPower::off), nullopt);
    EXPECT_EQ(filter.take(ScreenPower::unclear), nullopt);
    EXPECT_EQ(filter.take(ScreenPower::off), false);
    EXPECT_FALSE(filter.on());
    EXPECT_EQ(filter.nextRead(), kScreenReadWhileOff);
    EXPECT_EQ(filter.take(ScreenPower::off), nullopt);
    EXPECT_EQ(filter.take(ScreenPower::on), true);
    EXPECT_TRUE(filter.on());
}

TEST(BacklightLevels, DarkWithTheScreenBackAtTheLevelAskedForAndNothingTwice)
{
    BacklightLevels levels(12);
    const auto sent = [&levels](std::optional<int> level) {
        if (level)
            levels.sent(*level);
        return level;
    };
    EXPECT_EQ(sent(levels.screen(true)), 12);  // kept from the run before
    EXPECT_EQ(levels.screen(true), nullopt);
    EXPECT_EQ(sent(levels.request(15)), 15);
    EXPECT_EQ(levels.request(15), 15);  // a changed text that gives the same level
    EXPECT_EQ(sent(levels.screen(false)), 0);
    EXPECT_EQ(levels.request(20), nullopt);  // kept for the screen's return
    EXPECT_EQ(sent(levels.screen(true)), 20);
    EXPECT_EQ(sent(levels.request(0)), 0);
    EXPECT_EQ(levels.screen(false), nullopt);  // dark already
    EXPECT_EQ(levels.screen(true), nullopt);

    // Nothing asked for: nothing at the start, full light after a darkening.
    BacklightLevels unasked(nullopt);
    EXPECT_EQ(unasked.screen(true), nullopt);
    EXPECT_EQ(unasked.screen(false), 0);
    unasked.sent(0);
    EXPECT_EQ(unasked.screen(true), 31);
}

TEST(KeptPercent, OnlyAPercentageWithAtMostANewline)
{
    EXPECT_EQ(parseKeptPercent("50\n"), 50);
    EXPECT_EQ(parseKeptPercent("0"), 0);
    EXPECT_EQ(parseKeptPercent("100\n"), 100);
    for (const char* bad :
         {"", "\n", "101\n", "1000", "-5\n", " 50\n", "50 \n", "50\n\n", "5x", "exit\n"})
        EXPECT_EQ(parseKeptPercent(bad), nullopt) << bad;
}

}  // namespace
}  // namespace quorin
