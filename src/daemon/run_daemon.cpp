#include "daemon/run_daemon.h"

#include <syslog.h>

#include <exception>
#include <iostream>

#include "daemon/detach.h"
#include "daemon/failure.h"
#include "daemon/quorin_daemon.h"
#include "daemon/worker_threads.h"

namespace quorin {

namespace {

void announceStart()
{
    std::cout << std::string(79, '=') << std::endl;
    syslog(LOG_USER | LOG_INFO, "Daemon started");
}

}  // namespace

// Scope does the ordering: the threads are stopped before the object is
// torn down, on every way out. A start that failed reports status 1.
int runDaemon(const char* device)
{
    try {
        QuorinDaemon daemon(device);
        if (!detachFromTerminal())
            return 1;
        announceStart();
        WorkerThreads workers(daemon);
        workers.waitForStopRequest();
        syslog(LOG_USER | LOG_INFO, "Daemon stopped");
        return 0;
    } catch (const std::exception& error) {
        reportException(error);
        return 1;
    }
}

}  // namespace quorin
