#include "daemon/service_monitor.h"

#include <algorithm>

#include "daemon/metrics_text.h"
#include "daemon/quorin_daemon.h"
#include "daemon/service_notify.h"
#include "daemon/status_line.h"

namespace quorin {

namespace {

std::string baseName(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::int64_t secondsSinceEpoch()
{
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::chrono::microseconds monitorPeriod(std::chrono::microseconds watchdogInterval)
{
    const std::chrono::microseconds second = std::chrono::seconds(1);
    if (watchdogInterval.count() <= 0)
        return second;
    return std::min(second, watchdogInterval / 2);
}

// The screen is chosen here, before the service is ready: the log says
// which at once.
ServiceMonitor::ServiceMonitor(QuorinDaemon& daemon, const std::string& device,
                               std::chrono::microseconds watchdogInterval,
                               const std::string& metricsPath, const std::string& screenOption)
    : daemon(daemon),
      deviceName(baseName(device)),
      watchdogInterval(watchdogInterval),
      timer(daemon.getIoContext()),
      startTime(secondsSinceEpoch()),
      metricsFile(metricsPath),
      screen(screenOption),
      nextTick(Clock::now() + monitorPeriod(watchdogInterval))
{
    followScreen(Clock::now());
    arm();
}

// Until the next tick, or the screen's next read if that comes first.
void ServiceMonitor::arm()
{
    const std::optional<Clock::time_point> read = screen.nextCheck();
    timer.expires_at(read ? std::min(*read, nextTick) : nextTick);
    timer.async_wait([this](const boost::system::error_code& error) { wake(error); });
}

// Cancelled only when the daemon is torn down. A tick that would need a
// wake-up of its own before the screen's next read comes early, with
// this one.
void ServiceMonitor::wake(const boost::system::error_code& error)
{
    if (error)
        return;
    const Clock::time_point now = Clock::now();
    followScreen(now);
    const std::optional<Clock::time_point> read = screen.nextCheck();
    if (now >= nextTick || (read && *read > nextTick))
        tick(now);
    arm();
}

void ServiceMonitor::followScreen(Clock::time_point now)
{
    if (const std::optional<bool> on = screen.check(now))
        daemon.screenChanged(*on);
}

void ServiceMonitor::tick(Clock::time_point now)
{
    nextTick = now + monitorPeriod(watchdogInterval);
    const Health health = currentHealth(now);
    reportStatus(health);
    reportMetrics(health, now);
    feedWatchdog();
}

// The time of the last record is the tick that first saw it counted: the
// touch path itself never reads a clock for this.
Health ServiceMonitor::currentHealth(Clock::time_point now)
{
    Health health = daemon.health();
    if (health.records != recordsAtLastTick) {
        lastRecordSeen = now;
        lastRecordTime = secondsSinceEpoch();
    }
    recordsAtLastTick = health.records;
    health.screenOn = screen.on();
    if (lastRecordSeen)
        health.sinceLastRecord =
            std::chrono::duration_cast<std::chrono::seconds>(now - *lastRecordSeen);
    return health;
}

void ServiceMonitor::reportStatus(const Health& health)
{
    std::string status = formatStatusLine(deviceName, health);
    if (status == lastStatus)
        return;
    lastStatus = status;
    notifyServiceManager(("STATUS=" + status).c_str());
}

void ServiceMonitor::reportMetrics(const Health& health, Clock::time_point now)
{
    const Metrics metrics{deviceName, QUORIN_VERSION, health, lastRecordTime, startTime};
    metricsFile.update(formatMetrics(metrics), now);
}

void ServiceMonitor::feedWatchdog()
{
    const std::uint64_t turns = daemon.backlightTurns();
    const bool backlightAlive = turns != backlightTurnsAtLastTick || daemon.backlightWaiting();
    backlightTurnsAtLastTick = turns;
    if (watchdogInterval.count() > 0 && backlightAlive)
        notifyServiceManager("WATCHDOG=1");
}

}  // namespace quorin
