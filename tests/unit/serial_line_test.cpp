// The serial line's set-up as read back, and the line that explains a
// line that failed: which line, why, and what to do.
#include <gtest/gtest.h>

#include <termios.h>

#include <cerrno>
#include <string>
#include <vector>

#include "serial/line_explanation.h"
#include "serial/line_settings.h"

namespace quorin {
namespace {

using Settings = std::vector<std::string>;

termios controllerLine()
{
    termios line = {};
    cfmakeraw(&line);
    line.c_cflag |= PARENB;
    line.c_iflag |= INPCK;
    cfsetspeed(&line, B9600);
    return line;
}

TEST(LineSettings, WhatTheDriverDroppedIsNamed)
{
    EXPECT_EQ(settingsNotKept(controllerLine()), Settings{});
    termios line = controllerLine();
    line.c_cflag &= ~PARENB;  // as a mini UART keeps it
    EXPECT_EQ(settingsNotKept(line), Settings{"even parity"});
    line = controllerLine();
    line.c_cflag |= PARODD;
    EXPECT_EQ(settingsNotKept(line), Settings{"even parity"});
    line.c_iflag &= ~INPCK;
    line.c_cflag = (line.c_cflag & ~CSIZE) | CS7;
    cfsetispeed(&line, B115200);
    EXPECT_EQ(settingsNotKept(line),
              (Settings{"even parity", "input parity checking", "8 data bits", "9600 baud"}));
}

TEST(LineSettings, OnlyTheOptionsTriedCount)
{
    termios line = controllerLine();
    line.c_cflag &= ~CSIZE;
    cfsetospeed(&line, B4800);
    EXPECT_EQ(settingsNotKept(line, 1), Settings{});
    EXPECT_EQ(settingsNotKept(line, 2), Settings{"8 data bits"});
    EXPECT_EQ(listed({"a", "b", "c"}), "a, b and c");
}

LineFacts piPort(const char* name, const char* driver)
{
    LineFacts facts;
    facts.exists = facts.hardware = true;
    facts.name = name;
    facts.driver = driver;
    facts.machine = "Raspberry Pi 3 Model B";
    return facts;
}

// The Pi's own texts are checked whole where the kernel gives the facts
// (the sandbox's mini UART, the Pi board's guests): here, what the facts
// change.
TEST(LineExplanation, ALinkedLineNamesItsPort)
{
    const LineFacts mini = piPort("ttyS1", "bcm2835-aux-uart");
    EXPECT_EQ(explainSettingsNotKept("/dev/serial0", {"even parity"}, mini).substr(0, 33),
              "Serial line /dev/serial0 (ttyS1):");
    EXPECT_EQ(explainSetupFailure("/dev/ttyS1", EINVAL, {"even parity"}, mini),
              explainSettingsNotKept("/dev/ttyS1", {"even parity"}, mini));
    // Bluetooth's hold on the PL011 says nothing of a USB adapter's absence.
    LineFacts held;
    held.machine = "Raspberry Pi 4 Model B Rev 1.1";
    held.heldPorts = {{"fe201000.serial", "brcm,bcm43438-bt"}};
    EXPECT_EQ(explainOpenFailure("/dev/ttyUSB0", ENOENT, held),
              "Serial line /dev/ttyUSB0: there is no such device; name the controller's line with "
              "--device; on a Raspberry Pi that is the PL011, /dev/ttyAMA0, once Bluetooth has let "
              "it go (see RASPBERRY PI in man quorinDaemon)");
}

TEST(LineExplanation, ElsewhereTheAdviceIsGeneral)
{
    LineFacts usb;
    usb.exists = usb.hardware = true;
    usb.name = "ttyUSB0";
    usb.driver = "ch341-uart";
    usb.access = "root:dialout 0660";
    EXPECT_EQ(explainSettingsNotKept("/dev/ttyUSB0", {"even parity", "9600 baud"}, usb),
              "Serial line /dev/ttyUSB0: the port did not keep even parity and 9600 baud, which "
              "the controller needs (9600 baud, 8 data bits, even parity): its driver, "
              "ch341-uart, cannot do that; wire the controller to a port that can");
    EXPECT_EQ(explainOpenFailure("/dev/ttyUSB0", EACCES, usb),
              "Serial line /dev/ttyUSB0: permission denied (root:dialout 0660); run the daemon "
              "as root or as a user who may read and write it");
    EXPECT_EQ(explainOpenFailure("/dev/ttyUSB1", ENOENT, {}),
              "Serial line /dev/ttyUSB1: there is no such device; name the controller's line "
              "with --device");
    EXPECT_EQ(explainSetupFailure("/dev/ttyUSB0", EIO, {}, usb),
              "Serial line /dev/ttyUSB0: the port refused the controller's settings (9600 baud, 8 "
              "data bits, even parity): Input/output error");
}

}  // namespace
}  // namespace quorin
