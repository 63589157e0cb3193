#include "daemon/quorin_daemon.h"

#include <sys/prctl.h>

#include <cstring>
#include <exception>
#include <iostream>

#include "daemon/failure.h"
#include "serial/controller_command.h"

namespace quorin {

// Construction brings the line up before the device: the controller gets
// its start-up command even when the device then cannot be created. A
// failure of the serial steps throws; the members built so far (port,
// then context) are destroyed on the way out.
QuorinDaemon::QuorinDaemon(const char* device)
    : backlightCommand{0x1B, 0x40, '1', 'F', 'i'},
      serialPort(ioContext, device),
      badRecords(std::cout)
{
    synced = false;
    configureSerialLine();
    sendControllerCommand(kStartupCommand.data());
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
    // Every read waits out the 1400 us pause on this thread, and the kernel
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
