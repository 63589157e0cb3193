#include "daemon/run_daemon.h"

#include <syslog.h>

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

}  // namespace

// Scope does the ordering: the threads are stopped before the monitor and
// the object are torn down, on every way out. A start that failed reports status 1. A
// stop signal that comes while the object is built is kept for the
// backlight loop's first turn.
int runDaemon(const Options& options)
{
    if (options.foreground)
        installStopSignalHandlers();
    try {
        QuorinDaemon daemon(options.device.c_str());
        if (!leaveTerminal(options.foreground))
            return 1;
        announceStart();
        std::optional<ServiceMonitor> monitor;
        if (options.foreground)
            monitor.emplace(daemon, options.device);
        WorkerThreads workers(daemon);
        daemon.waitUntilPolling();
        notifyServiceManager("READY=1");
        workers.waitForStopRequest();
        notifyServiceManager("STOPPING=1");
        syslog(LOG_USER | LOG_INFO, "Daemon stopped");
        return 0;
    } catch (const std::exception& error) {
        reportException(error);
        return 1;
    }
}

}  // namespace quorin
