#pragma once

#include <boost/asio/steady_timer.hpp>
#include <boost/system/error_code.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "backlight/screen_follow.h"
#include "daemon/metrics_file.h"
#include "daemon/status_line.h"

namespace quorin {

class QuorinDaemon;

// Keeps the service manager's view of a running daemon current: the status
// line and the metrics file, once a tick and only when they changed, and
// the watchdog, fed only
// while both worker threads prove alive. Its timer runs on the I/O thread,
// so a tick is itself the proof that this thread turns, idle line or not;
// the backlight thread proves itself by the turns it counts, or by
// sleeping in its wait. The same timer reads the screen the backlight
// follows when that is due, between ticks, and tells the backlight thread
// when it changes: the service has no other wake-up for it.
class ServiceMonitor {
public:
    ServiceMonitor(QuorinDaemon& daemon, const std::string& device,
                   std::chrono::microseconds watchdogInterval, const std::string& metricsPath,
                   const std::string& screenOption);

private:
    using Clock = std::chrono::steady_clock;

    void arm();
    void wake(const boost::system::error_code& error);
    void followScreen(Clock::time_point now);
    void tick(Clock::time_point now);
    Health currentHealth(Clock::time_point now);
    void reportStatus(const Health& health);
    void reportMetrics(const Health& health, Clock::time_point now);
    void feedWatchdog();

    QuorinDaemon& daemon;
    const std::string deviceName;
    const std::chrono::microseconds watchdogInterval;
    boost::asio::steady_timer timer;
    std::uint64_t recordsAtLastTick = 0;
    std::optional<Clock::time_point> lastRecordSeen;
    std::optional<std::int64_t> lastRecordTime;  // the same, since the epoch
    const std::int64_t startTime;
    std::uint64_t backlightTurnsAtLastTick = 0;
    std::string lastStatus;
    MetricsFile metricsFile;
    ScreenFollow screen;
    Clock::time_point nextTick;
};

// A tick each second, or twice per watchdog interval if that is shorter.
std::chrono::microseconds monitorPeriod(std::chrono::microseconds watchdogInterval);

}  // namespace quorin
