#include "daemon/run_daemon.h"

#include <sys/eventfd.h>
#include <syslog.h>

#include <boost/system/system_error.hpp>

#include <cerrno>

#include <exception>
#include <iostream>
#include <optional>

#include "daemon/detach.h"
#include "daemon/failure.h"
#include "daemon/quorin_daemon.h"
#include "daemon/service_monitor.h"
#include "daemon/service_notify.h"
#include "daemon/stop_signals.h"
#include "daemon/worker_threads.h"

namespace quorin {

namespace {

void announceStart()
{
    std::cout << std::string(79, '=') << std::endl;
    syslog(LOG_USER | LOG_INFO, "Daemon started");
}

bool leaveTerminal(bool foreground)
{
    return foreground ? stayInForeground() : detachFromTerminal();
}

// Before the object: a stop signal must reach the start-up command. The
// screen's descriptor lives as long as the process, as the stop's does.
ServiceMode enterServiceMode()
{
    installStopSignalHandlers();
    const int screenFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (screenFd < 0)
        throw boost::system::system_error(errno, boost::system::system_category(), "eventfd");
    return ServiceMode{stopSignalDescriptor(), screenFd, serviceWatchdogInterval()};
}

// Only a service manager that started the service mode is told anything:
// the plain daemon reads no environment.
void tellServiceManager(const std::optional<ServiceMode>& service, const char* state)
{
    if (service)
        notifyServiceManager(state);
}

}  // namespace

// Scope does the ordering: the threads are stopped before the monitor and
// the object are torn down, on every way out. A start that failed reports
// status 1. A stop signal that comes while the object is built is kept for
// the backlight loop's first turn.
int runDaemon(const Options& options)
{
    try {
        std::optional<ServiceMode> service;
        if (options.foreground)
            service = enterServiceMode();
        QuorinDaemon daemon(options.device.c_str(), service);
        if (!leaveTerminal(options.foreground))
            return 1;
        announceStart();
        std::optional<ServiceMonitor> monitor;
        if (service)
            monitor.emplace(daemon, options.device, service->watchdogInterval, options.metricsFile,
                            options.screen);
        WorkerThreads workers(daemon);
        daemon.waitUntilPolling();
        tellServiceManager(service, "READY=1");
        workers.waitForStopRequest();
        tellServiceManager(service, "STOPPING=1");
        syslog(LOG_USER | LOG_INFO, "Daemon stopped");
        return 0;
    } catch (const std::exception& error) {
        reportException(error);
        return 1;
    }
}

}  // namespace quorin
