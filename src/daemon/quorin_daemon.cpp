#include "daemon/quorin_daemon.h"

#include <sys/prctl.h>

#include <cstring>
#include <exception>
#include <iostream>

#include "daemon/failure.h"
#include "serial/controller_command.h"
#include "serial/stoppable_write.h"

namespace quorin {

// Construction brings the line up before the device: the controller gets
// its start-up command even when the device then cannot be created. A
// failure of the serial steps throws; the members built so far (port,
// then context) are destroyed on the way out.
// A stop signal during the start-up command only gives the command up:
// the backlight loop's first turn then brings the orderly stop.
QuorinDaemon::QuorinDaemon(const char* device, std::optional<ServiceMode> service)
    : service(service),
      backlightCommand{0x1B, 0x40, '1', 'F', 'i'},
      serialPort(ioContext),
      badRecords(std::cout)
{
    openSerialLine(device);
    synced = false;
    configureSerialLine(device);
    // In the service mode a held command waits in poll, where a stop reaches it.
    if (service)
        makeNonBlocking(serialPort.native_handle());
    if (!sendControllerCommand(kStartupCommand.data()))
        std::cout << "Stop requested: start-up command given up" << std::endl;
    std::memset(readBuffer, 0, sizeof readBuffer);
    std::memset(frameText, 0, sizeof frameText);
    startRead();
    setupTouchDevice();
}

// The port closes first, then the context goes with its services and any
// completion that never ran. uinputFd stays open: the device lives until
// the process ends.
QuorinDaemon::~QuorinDaemon()
{
    if (service)
        discardUnsentOutput();
    boost::system::error_code ignored;
    serialPort.close(ignored);
}

boost::asio::io_context& QuorinDaemon::getIoContext()
{
    return ioContext;
}

// An error that escapes the I/O context would leave the touch path dead
// while the daemon looks alive: report it and end with status 1.
void QuorinDaemon::runIo()
{
    // Reads wait out the 1400 us pause on this thread, and the kernel
    // may stretch each sleep by the thread's timer slack (50 us by default)
    // to batch wake-ups: that stretch would be added to every touch. The
    // thread sleeps nowhere else, so nothing is saved by keeping it. A
    // refusal leaves the default.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    try {
        ioContext.run();
    } catch (const std::exception& error) {
        reportException(error);
        endProcess(1);
    }
}

}  // namespace quorin
