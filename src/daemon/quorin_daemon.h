#pragma once

#include <linux/uinput.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/serial_port.hpp>
#include <boost/system/error_code.hpp>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <future>
#include <optional>

#include "backlight/backlight_levels.h"
#include "backlight/brightness_store.h"
#include "backlight/control_file_open.h"
#include "daemon/status_line.h"
#include "daemon/text_buffer.h"
#include "touch/bad_record_log.h"
#include "touch/touch_event_batch.h"

namespace quorin {

class ControlFileWatch;

// What the service mode changes in the object: a stop signal (readable
// stopFd) gives up a command the line holds back and wakes the backlight
// loop, which sleeps until the control file changes or the screen it
// follows does (screenFd, made readable by the service monitor); unsent
// output is discarded at the stop. The last request is kept in the state
// directory and sent again at the next start.
struct ServiceMode {
    int stopFd = -1;
    int screenFd = -1;
    std::chrono::microseconds watchdogInterval{0};
};

// The whole daemon: the serial link, the frame buffer, the virtual touch
// device and the backlight control state. One object per process, built
// before the process detaches and torn down at the orderly stop.
class QuorinDaemon {
public:
    explicit QuorinDaemon(const char* device, std::optional<ServiceMode> service = std::nullopt);
    ~QuorinDaemon();
    QuorinDaemon(const QuorinDaemon&) = delete;
    QuorinDaemon& operator=(const QuorinDaemon&) = delete;

    boost::asio::io_context& getIoContext();

    // Thread bodies.
    void backlightLoop();
    void runIo();

    // Returns once the backlight thread polls (or watches) the control file:
    // a request written from then on is never emptied away by the start.
    void waitUntilPolling();

    // A null command sends backlightCommand. Returns false when a stop
    // signal made it give up a command the line held back.
    bool sendControllerCommand(const unsigned char* command);

    // For the service monitor. health() reads the touch path's own counts:
    // call it on the I/O thread only.
    Health health() const;
    std::uint64_t backlightTurns() const
    {
        return backlightTurnCount.load(std::memory_order_relaxed);
    }
    // Sleeping until something changes is as alive as turning.
    bool backlightWaiting() const { return backlightAsleep.load(std::memory_order_relaxed); }
    // The screen the backlight follows went off or came back: from the
    // service monitor's thread.
    void screenChanged(bool on);

private:
    void openSerialLine(const char* device);
    void configureSerialLine(const char* device);
    void discardUnsentOutput();
    void startRead();
    void handleRead(const boost::system::error_code& error, std::size_t count);
    void noteReadResult(const boost::system::error_code& error);
    void writeTouchEventBatch(const TouchEventBatch& batch);
    std::optional<TouchEventBatch> decodeFrame();
    void setupTouchDevice();

    void openControlFile();
    bool backlightTurn(ControlFileWatch* watch);
    bool followControlFileName();
    void refuseControlFile(FileId id, int error);
    void readControlText();
    void applyBrightnessRequest();
    void restoreBrightness();
    void followScreen();
    void sendLevel(std::optional<int> level);
    bool sendBrightnessCommand();
    void closeControlFile();

    const std::optional<ServiceMode> service;
    char readBuffer[kTextBufferSize] = {};
    unsigned char backlightCommand[5];
    boost::asio::io_context ioContext;
    boost::asio::serial_port serialPort;
    int backlightFd = -1;
    // The file backlightFd is, and the last one refused at the control
    // file's name (reported once, not at every turn).
    FileId controlFileId;
    FileId controlRefusedId;
    char backlightText[kTextBufferSize] = {};
    char backlightLast[kTextBufferSize] = {};
    uinput_user_dev deviceSetup = {};
    int uinputFd = -1;
    char frameText[kTextBufferSize] = {};
    bool synced = false;
    // The touch path's counts, for the I/O thread only (bad records are
    // counted by badRecords).
    BadRecordLog badRecords;
    std::uint64_t recordsDecoded = 0;

    // The service mode's, for the backlight thread once construction is over.
    std::optional<BrightnessStore> store;
    std::optional<BacklightLevels> levels;

    std::promise<void> pollingStarted;
    // Written by the backlight thread, read by the service monitor.
    std::atomic<std::uint64_t> backlightTurnCount{0};
    std::atomic<bool> backlightAsleep{false};
    std::atomic<int> levelSent{-1};
    std::atomic<int> levelWanted{-1};
    std::atomic<bool> screenOn{true};  // written by the service monitor
    std::atomic<std::uint64_t> commandsSent{0};
    std::atomic<std::uint64_t> commandsGivenUp{0};

    // A run of failures is reported once, at its first failure.
    bool serialReadFailing = false;
    bool controlReadFailing = false;
    int controlOpenError = 0;
};

}  // namespace quorin
