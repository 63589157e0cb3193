#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <boost/asio/serial_port_base.hpp>
#include <boost/asio/write.hpp>

#include <cerrno>

#include "daemon/quorin_daemon.h"
#include "serial/controller_command.h"
#include "serial/line_explanation.h"
#include "serial/line_facts.h"
#include "serial/line_settings.h"
#include "serial/serial_line_error.h"
#include "serial/stoppable_write.h"

namespace quorin {

namespace {

// Ten commands' time at 9600 baud.
constexpr int kDrainGraceMs = 50;

}  // namespace

// A line that cannot be opened says which it is and why, beside the
// serial library's own error.
void QuorinDaemon::openSerialLine(const char* device)
{
    try {
        serialPort.open(device);
    } catch (const boost::system::system_error& error) {
        throw SerialLineError(
            error, explainOpenFailure(device, error.code().value(), gatherLineFacts(device)));
    }
}

namespace {

boost::system::system_error setOptionError(int error)
{
    return {boost::system::error_code(error, boost::system::system_category()), "set_option"};
}

// The settings of the options tried that the line's attributes lack; none
// for a line whose attributes cannot be read or that is no port (a pty
// has no wire, and keeps no parity whatever it is asked).
std::vector<std::string> droppedSettings(int fd, const LineFacts& facts, int optionsTried)
{
    termios kept = {};
    if (!facts.hardware || tcgetattr(fd, &kept) < 0)
        return {};
    return settingsNotKept(kept, optionsTried);
}

}  // namespace

// Each option is its own read-modify-write of the line's attributes, in
// this order; stop bits and flow control stay as the port had them. A
// driver may drop what its UART cannot do and still report success (a
// Raspberry Pi's mini UART drops parity), or be refused by it with EINVAL
// once the line is in that state: the attributes are read back either way.
void QuorinDaemon::configureSerialLine(const char* device)
{
    using boost::asio::serial_port_base;
    const int fd = serialPort.native_handle();
    int optionsSet = 0;
    try {
        serialPort.set_option(serial_port_base::parity(serial_port_base::parity::even));
        ++optionsSet;
        serialPort.set_option(serial_port_base::character_size(8));
        ++optionsSet;
        serialPort.set_option(serial_port_base::baud_rate(9600));
    } catch (const boost::system::system_error& error) {
        const LineFacts facts = gatherLineFacts(device);
        throw SerialLineError(
            error, explainSetupFailure(device, error.code().value(),
                                       droppedSettings(fd, facts, optionsSet + 1), facts));
    }
    const std::vector<std::string> dropped =
        droppedSettings(fd, portFacts(device), kLineOptionCount);
    if (!dropped.empty())
        throw SerialLineError(setOptionError(EINVAL),
                              explainSettingsNotKept(device, dropped, gatherLineFacts(device)));
}

// Blocks until all five bytes are handed to the line; throws "write: ..."
// on failure. The backlight thread is the only writer after construction,
// so commands never interleave. In the service mode a stop signal ends
// the wait of a command the line holds back.
bool QuorinDaemon::sendControllerCommand(const unsigned char* command)
{
    const unsigned char* bytes = command ? command : backlightCommand;
    if (service)
        return writeUnlessStopped(serialPort.native_handle(), bytes, kCommandSize, service->stopFd);
    boost::asio::write(serialPort, boost::asio::buffer(bytes, kCommandSize));
    return true;
}

// Closing a port whose output is held (flow control) waits up to its
// closing delay, 30 s by default, for the output to go. A command still on
// its way gets the time a flowing line needs; whatever is left is dropped.
// A port that fails these calls is closed all the same.
void QuorinDaemon::discardUnsentOutput()
{
    const int fd = serialPort.native_handle();
    int unsent = 0;
    for (int waited = 0; waited < kDrainGraceMs && ioctl(fd, TIOCOUTQ, &unsent) == 0 && unsent > 0;
         ++waited)
        usleep(1000);
    if (tcflush(fd, TCOFLUSH) < 0) {
        // See above.
    }
}

}  // namespace quorin
