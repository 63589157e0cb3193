// Bytes that leave the daemon: the device's set-up record, the events of
// one report, the commands to the controller and the guard's pipeline.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "daemon/instance_guard.h"
#include "serial/controller_command.h"
#include "touch/touch_device.h"
#include "touch/touch_event_batch.h"

namespace quorin {
namespace {

TEST(DeviceSetup, RecordDescribesAnAbsoluteTouchScreen)
{
    uinput_user_dev setup;
    std::memset(&setup, 0xA5, sizeof setup);
    fillDeviceSetup(setup);
    ASSERT_EQ(sizeof setup, 1116u);
    EXPECT_STREQ(setup.name, "uinput-touch");
    EXPECT_EQ(setup.id.bustype, 3);
    EXPECT_EQ(setup.id.vendor, 0x1234);
    EXPECT_EQ(setup.id.product, 0xFEDC);
    EXPECT_EQ(setup.id.version, 1);
    EXPECT_EQ(setup.absmax[ABS_X], 4095);
    EXPECT_EQ(setup.absmax[ABS_Y], 4095);
}

TEST(DeviceSetup, EveryOtherByteIsZero)
{
    uinput_user_dev setup;
    std::memset(&setup, 0xA5, sizeof setup);
    fillDeviceSetup(setup);
    uinput_user_dev rest = setup;
    std::memset(rest.name, 0, std::strlen("uinput-touch"));
    rest.id = {};
    rest.absmax[ABS_X] = rest.absmax[ABS_Y] = 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&rest);
    for (std::size_t i = 0; i < sizeof rest; ++i)
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

TEST(TouchEventBatch, OneReportOfFourEventsWithZeroTime)
{
    const TouchEventBatch batch = makeTouchEventBatch(419, 4095, true);
    // Four events as the kernel reads them: a timeval of two longs, then
    // type, code and value (96 bytes on 64-bit machines, 64 on armhf).
    ASSERT_EQ(sizeof batch, 4 * (2 * sizeof(long) + 8));
    const int expected[4][3] = {{EV_ABS, ABS_X, 419},
                                {EV_ABS, ABS_Y, 4095},
                                {EV_KEY, BTN_TOUCH, 1},
                                {EV_SYN, SYN_REPORT, 0}};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(batch[i].type, expected[i][0]);
        EXPECT_EQ(batch[i].code, expected[i][1]);
        EXPECT_EQ(batch[i].value, expected[i][2]);
        EXPECT_EQ(batch[i].time.tv_sec, 0);
        EXPECT_EQ(batch[i].time.tv_usec, 0);
    }
    EXPECT_EQ(makeTouchEventBatch(0, 0, false)[2].value, 0);
}

TEST(ControllerCommand, StartupCommandCarriesItsTwoNuls)
{
    const unsigned char expected[] = {0x1B, 0x40, 0x73, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(kStartupCommand.data(), expected, kCommandSize), 0);
}

TEST(ControllerCommand, EveryLevelIsTwoUpperCaseHexDigits)
{
    const char* pairs[] = {"00", "01", "02", "03", "04", "05", "06", "07", "08", "09", "0A",
                           "0B", "0C", "0D", "0E", "0F", "10", "11", "12", "13", "14", "15",
                           "16", "17", "18", "19", "1A", "1B", "1C", "1D", "1E", "1F"};
    for (int level = 0; level <= kBrightnessLevelMax; ++level) {
        unsigned char command[] = {0x1B, 0x40, '?', '?', 'i'};
        setCommandLevel(command, level);
        EXPECT_EQ(command[2], pairs[level][0]) << "level " << level;
        EXPECT_EQ(command[3], pairs[level][1]) << "level " << level;
        EXPECT_EQ(command[4], 'i');
    }
}

TEST(InstanceGuard, PipelineDropsOnlyTheOwnPidField)
{
    EXPECT_EQ(guardCommand(412), "ps -eo pid,comm | grep quorinDaemon | grep -v '^ *412 '");
}

}  // namespace
}  // namespace quorin
