#include <syslog.h>
#include <unistd.h>

#include <boost/asio/error.hpp>
#include <boost/asio/placeholders.hpp>
#include <boost/bind/bind.hpp>

#include "daemon/quorin_daemon.h"
#include "serial/frame_buffer.h"
#include "touch/frame_decoder.h"

namespace quorin {

namespace {

constexpr useconds_t kReadPause = 1400;

}  // namespace

// One read pending at a time, never asking for more than the frame buffer
// can take, so readBuffer always has room for the terminating NUL.
void QuorinDaemon::startRead()
{
    serialPort.async_read_some(
        boost::asio::buffer(readBuffer, roomForNextRead(frameText)),
        boost::bind(&QuorinDaemon::handleRead, this, boost::asio::placeholders::error,
                    boost::asio::placeholders::bytes_transferred));
}

void QuorinDaemon::handleRead(const boost::system::error_code& error, std::size_t count)
{
    // Aborted only when the port is closed at teardown: do not re-arm.
    if (error == boost::asio::error::operation_aborted)
        return;
    // Started by hand the daemon waits the pause after every read. As a
    // service it arms the next read at once, since the line paces the
    // records itself (12.6 ms each at 9600 8E1) and the pause is pure
    // latency; only a failed read waits it, so that a line that fails at
    // once cannot spin the thread.
    if (!service || error)
        usleep(kReadPause);
    noteReadResult(error);
    readBuffer[count] = '\0';
    appendReceived(frameText, readBuffer, count);
    while (const std::optional<TouchEventBatch> batch = decodeFrame()) {
        writeTouchEventBatch(*batch);
        ++recordsDecoded;
    }
    badRecords.dropped(keepRoomForNextRead(frameText));
    startRead();
}

// A failing line fails every read: say so once per run of failures.
void QuorinDaemon::noteReadResult(const boost::system::error_code& error)
{
    if (error && !serialReadFailing)
        syslog(LOG_USER | LOG_ERR, "Serial read failed: %s", error.message().c_str());
    serialReadFailing = static_cast<bool>(error);
}

Health QuorinDaemon::health() const
{
    Health health;
    health.records = recordsDecoded;
    health.badRecords = badRecords.badRecords();
    health.lineFailing = serialReadFailing;
    health.brightnessLevel = levelSent.load(std::memory_order_relaxed);
    health.brightnessWanted = levelWanted.load(std::memory_order_relaxed);
    health.commandsSent = commandsSent.load(std::memory_order_relaxed);
    health.commandsGivenUp = commandsGivenUp.load(std::memory_order_relaxed);
    return health;
}

std::optional<TouchEventBatch> QuorinDaemon::decodeFrame()
{
    return quorin::decodeFrame(frameText, synced, badRecords);
}

}  // namespace quorin
