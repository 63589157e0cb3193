#include <boost/asio/serial_port_base.hpp>
#include <boost/asio/write.hpp>

#include "daemon/quorin_daemon.h"
#include "serial/controller_command.h"

namespace quorin {

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
// so commands never interleave.
void QuorinDaemon::sendControllerCommand(const unsigned char* command)
{
    const unsigned char* bytes = command ? command : backlightCommand;
    boost::asio::write(serialPort, boost::asio::buffer(bytes, kCommandSize));
}

}  // namespace quorin
