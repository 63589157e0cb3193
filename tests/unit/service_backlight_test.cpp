// The service's backlight: which screen it follows, how a screen's reads
// become changes, which level each change sends, and the kept level's
// file.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

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

TEST(ScreenChoice, TheOneConnectedIsFollowedNoneIsWaitedForSeveralAreNamed)
{
    const ScreenChoice one = chooseScreen(
        {{"card0-DP-1", false}, {"card0-HDMI-A-1", true}, {"card0-Writeback-1", false}});
    EXPECT_EQ(one.name, "card0-HDMI-A-1");
    EXPECT_FALSE(one.lookAgain);
    EXPECT_EQ(one.message, "Following the screen card0-HDMI-A-1");

    for (const std::vector<Connector>& nothing :
         {std::vector<Connector>{}, std::vector<Connector>{{"card0-DP-1", false}}}) {
        const ScreenChoice none = chooseScreen(nothing);
        EXPECT_EQ(none.name, "");
        EXPECT_TRUE(none.lookAgain);
        EXPECT_EQ(none.message,
                  "Screen not followed: none connected yet; the first one connected will be");
    }

    const ScreenChoice two = chooseScreen({{"card0-DP-1", true}, {"card1-HDMI-A-1", true}});
    EXPECT_EQ(two.name, "");
    EXPECT_FALSE(two.lookAgain);
    EXPECT_EQ(two.message,
              "Screen not followed: 2 connected (card0-DP-1, card1-HDMI-A-1); name one with "
              "--screen");
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
    EXPECT_EQ(levels.screen(true), 12);  // kept from the run before
    levels.sent(12);
    EXPECT_EQ(levels.screen(true), nullopt);
    EXPECT_EQ(levels.request(15), 15);
    levels.sent(15);
    EXPECT_EQ(levels.request(15), 15);  // a changed text that gives the same level
    EXPECT_EQ(levels.screen(false), 0);
    levels.sent(0);
    EXPECT_EQ(levels.screen(false), nullopt);
    EXPECT_EQ(levels.request(20), nullopt);  // kept for the screen's return
    EXPECT_EQ(levels.wanted(), 20);
    EXPECT_EQ(levels.screen(true), 20);
    levels.sent(20);
    EXPECT_EQ(levels.request(0), 0);
    levels.sent(0);
    EXPECT_EQ(levels.screen(false), nullopt);  // dark already
    EXPECT_EQ(levels.screen(true), nullopt);
}

TEST(BacklightLevels, WithNothingAskedTheStartSendsNothingAndAReturnLightsItFully)
{
    BacklightLevels levels(nullopt);
    EXPECT_EQ(levels.screen(true), nullopt);
    EXPECT_EQ(levels.screen(false), 0);
    EXPECT_EQ(levels.screen(true), nullopt);  // the darkening was never sent
    EXPECT_EQ(levels.screen(false), 0);
    levels.sent(0);
    EXPECT_EQ(levels.screen(true), 31);

    BacklightLevels darkAtStart(9);
    EXPECT_EQ(darkAtStart.screen(false), 0);
    darkAtStart.sent(0);
    EXPECT_EQ(darkAtStart.screen(true), 9);
}

TEST(KeptPercent, OnlyAPercentageWithAtMostANewline)
{
    EXPECT_EQ(parseKeptPercent("50\n"), 50);
    EXPECT_EQ(parseKeptPercent("0"), 0);
    EXPECT_EQ(parseKeptPercent("100\n"), 100);
    for (const char* bad : {"", "\n", "101\n", "1000", "-5\n", " 50\n", "50 \n", "50\n\n", "5x",
                            "exit\n"})
        EXPECT_EQ(parseKeptPercent(bad), nullopt) << bad;
}

}  // namespace
}  // namespace quorin
