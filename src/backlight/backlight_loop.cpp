#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <boost/thread/thread.hpp>

#include <cerrno>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>

#include "backlight/brightness_request.h"
#include "backlight/control_file_open.h"
#include "backlight/control_file_watch.h"
#include "daemon/failure.h"
#include "daemon/quorin_daemon.h"
#include "daemon/service_monitor.h"
#include "daemon/stop_signals.h"
#include "serial/controller_command.h"

namespace quorin {

// Emptying the file at the start also discards a stop request left by an
// earlier run.
void QuorinDaemon::openControlFile()
{
    backlightFd = openControlFileByName(kControlFile, true, &controlFileId);
    controlOpenError = errno;
    if (backlightFd >= 0 && ftruncate(backlightFd, 0) < 0) {
        // Not reported: the loop still reads whatever the file holds.
    }
}

// The plain daemon polls the file; the service mode sleeps until it
// changes. The watch is in place, and the level kept from the last run
// sent, before a writer may rely on the loop.
void QuorinDaemon::backlightLoop()
{
    openControlFile();
    std::memset(backlightLast, 0, sizeof backlightLast);
    std::optional<ControlFileWatch> watch;
    if (service) {
        watch.emplace(backlightFd, controlOpenError, service->stopFd, service->screenFd);
        restoreBrightness();
    }
    pollingStarted.set_value();
    try {
        while (backlightTurn(watch ? &*watch : nullptr)) {
            backlightAsleep.store(watch.has_value(), std::memory_order_relaxed);
            if (watch)
                watch->wait();
            else
                usleep(kControlPollPause);
        }
    } catch (const boost::thread_interrupted&) {
        closeControlFile();
        throw;
    }
    closeControlFile();
}

// One poll. Returns false on a stop request, from the file or a stop
// signal. An error inside a turn is reported and polling goes on, so that
// a stop request still works.
bool QuorinDaemon::backlightTurn(ControlFileWatch* watch)
{
    boost::this_thread::interruption_point();
    backlightTurnCount.fetch_add(1, std::memory_order_relaxed);  // proof of life for the watchdog
    backlightAsleep.store(false, std::memory_order_relaxed);
    if (stopSignalReceived())
        return false;
    try {
        // The watch moves before the read: a write to the new file after
        // the read still wakes the next turn.
        if (followControlFileName() && watch)
            watch->follow(backlightFd);
        readControlText();
        switch (classifyControlText(backlightText, backlightLast)) {
        case ControlAction::stop:
            return false;
        case ControlAction::apply:
            applyBrightnessRequest();
            break;
        case ControlAction::none:
            break;
        }
        if (levels)
            followScreen();
    } catch (const std::exception& error) {
        reportException(error);
    }
    return true;
}

// Always from the start of the file: a text that begins with NUL reads as
// empty but must not shift where the next turn looks.
void QuorinDaemon::readControlText()
{
    std::memset(backlightText, 0, sizeof backlightText);
    if (backlightFd < 0)
        errno = controlOpenError;
    const ssize_t count = backlightFd < 0 ? -1 : pread(backlightFd, backlightText, kTextMax, 0);
    if (count < 0 && !controlReadFailing)
        syslog(LOG_USER | LOG_ERR, "Read failed: %m");
    controlReadFailing = count < 0;
}

// The text counts as applied before it is sent: a line that refuses the
// command is reported once, not on every turn. The service keeps the
// request after sending it, so that the disk's time is not the panel's.
void QuorinDaemon::applyBrightnessRequest()
{
    std::memcpy(backlightLast, backlightText, sizeof backlightLast);
    const int percent = parseBrightnessRequest(backlightText);
    const int level = brightnessLevel(percent);
    if (!levels) {
        sendLevel(level);
        return;
    }
    levelWanted.store(level, std::memory_order_relaxed);
    sendLevel(levels->request(level));
    store->save(percent);
}

void QuorinDaemon::sendLevel(std::optional<int> level)
{
    if (!level)
        return;
    setCommandLevel(backlightCommand, *level);
    if (!sendBrightnessCommand()) {
        std::cout << "Stop requested: brightness command given up" << std::endl;
        return;
    }
    levelSent.store(*level, std::memory_order_relaxed);
    if (levels)
        levels->sent(*level);
}

// Counted for the metrics: a command the write failed (reported by the
// turn) is given up as well as one a stop gave up.
bool QuorinDaemon::sendBrightnessCommand()
{
    bool sent = false;
    try {
        sent = sendControllerCommand(nullptr);
    } catch (...) {
        commandsGivenUp.fetch_add(1, std::memory_order_relaxed);
        throw;
    }
    (sent ? commandsSent : commandsGivenUp).fetch_add(1, std::memory_order_relaxed);
    return sent;
}

void QuorinDaemon::waitUntilPolling()
{
    pollingStarted.get_future().wait();
}

void QuorinDaemon::closeControlFile()
{
    if (backlightFd >= 0)
        close(backlightFd);
    backlightFd = -1;
}

}  // namespace quorin
