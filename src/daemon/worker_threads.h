#pragma once

#include <boost/thread/thread.hpp>

namespace quorin {

class QuorinDaemon;

// The backlight thread and the I/O thread, started in that order. Leaving
// scope stops both before the daemon object they work on is torn down.
class WorkerThreads {
public:
    explicit WorkerThreads(QuorinDaemon& daemon);
    // join() throws only for a thread joining itself or an interrupted
    // caller, neither of which happens to main's thread here.
    ~WorkerThreads();  // NOLINT(bugprone-exception-escape)
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    // Returns when the backlight thread has read a stop request.
    void waitForStopRequest();

private:
    void stopBacklightThread();
    void stopIoThread();

    QuorinDaemon& daemon;
    boost::thread backlightThread;
    boost::thread ioThread;
};

}  // namespace quorin
