#include "daemon/worker_threads.h"

#include <boost/bind/bind.hpp>

#include "daemon/quorin_daemon.h"
#include "daemon/stop_signals.h"

namespace quorin {

WorkerThreads::WorkerThreads(QuorinDaemon& daemon)
    : daemon(daemon),
      backlightThread(boost::bind(&QuorinDaemon::backlightLoop, &daemon))
{
    try {
        ioThread = boost::thread(boost::bind(&QuorinDaemon::runIo, &daemon));
    } catch (...) {
        // The destructor will not run: the backlight thread must not
        // outlive this scope on an object about to be torn down.
        stopBacklightThread();
        throw;
    }
}

WorkerThreads::~WorkerThreads()  // NOLINT(bugprone-exception-escape): see the header
{
    stopBacklightThread();
    stopIoThread();
}

void WorkerThreads::waitForStopRequest()
{
    backlightThread.join();
}

void WorkerThreads::stopBacklightThread()
{
    if (!backlightThread.joinable())
        return;
    backlightThread.interrupt();
    requestStop();  // the service mode's loop sleeps where no interruption reaches
    backlightThread.join();
}

// Once run() has returned no completion can touch the daemon any more;
// the read left pending is aborted and discarded at teardown.
void WorkerThreads::stopIoThread()
{
    daemon.getIoContext().stop();
    if (ioThread.joinable())
        ioThread.join();
}

}  // namespace quorin
