#pragma once

#include <boost/asio/steady_timer.hpp>
#include <boost/system/error_code.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "daemon/metrics_file.h"
#include "daemon/status_line.h"

namespace quorin {

class QuorinDaemon;

// Keeps the service manager's view of a running daemon current: the status
// line and the metrics file, once a tick and only when they changed, and
// the watchdog, fed only
// while both worker threads prove alive. Its timer runs on the I/O thread,
// so a tick is itself the proof that this thread turns, idle line or not;
// the backlight thread proves itself by the turns it counts.
class ServiceMonitor {
public:
    ServiceMonitor(QuorinDaemon& daemon, const std::string& device,
                   std::chrono::microseconds watchdogInterval, const std::string& metricsPath);

private:
    using Clock = std::chrono::steady_clock;

    void arm();
    void tick(const boost::system::error_code& error);
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
};

// A tick each second, or twice per watchdog interval if that is shorter.
std::chrono::microseconds monitorPeriod(std::chrono::microseconds watchdogInterval);

// The longest sleep of the service mode's backlight loop: two turns per
// tick while the watchdog wants proof of its life, so that every tick
// sees one; otherwise a turn a minute, only in case a change of the
// control file ever escaped its watch.
std::chrono::microseconds backlightIdleTurn(std::chrono::microseconds watchdogInterval);

}  // namespace quorin
