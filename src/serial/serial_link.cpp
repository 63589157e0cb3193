#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <boost/asio/serial_port_base.hpp>
#include <boost/asio/write.hpp>

#include "daemon/quorin_daemon.h"
#include "serial/controller_command.h"
#include "serial/stoppable_write.h"

namespace quorin {

namespace {

// Ten commands' time at 9600 baud.
constexpr int kDrainGraceMs = 50;

}  // namespace

// Each option is its own read-modify-write of the line's attributes, in
// this order; stop bits and flow control stay as the port had them.
void QuorinDaemon::configureSerialLine()
{
    using boost::asio::serial_port_base;
    serialPort.set_option(serial_port_base::parity(serial_port_base::parity::even));
    serialPort.set_option(serial_port_base::character_size(8));
    serialPort.set_option(serial_port_base::baud_rate(9600));
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
