#include "daemon/detach.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdlib>

#include "daemon/log_file.h"

namespace quorin {

namespace {

// Returns false in the parent's place when the fork fails; the parent of a
// successful fork ends here.
bool forkAndLeaveParent(const char* failure)
{
    const pid_t pid = fork();
    if (pid < 0) {
        syslog(LOG_USER | LOG_ERR, "%s: %m", failure);
        return false;
    }
    if (pid > 0)
        std::exit(0);  // NOLINT(concurrency-mt-unsafe): no other thread exists yet
    return true;
}

// The working directory must not keep a file system busy, and files the
// daemon creates get exactly the mode asked for (0666 for the control file).
void leaveWorkingDirectoryAndMask()
{
    if (chdir("/") < 0)
        syslog(LOG_USER | LOG_ERR, "chdir failed: %m");
    umask(0);
}

// The new descriptors take 0, 1 and 2 because open and dup use the lowest
// free number.
bool redirectStandardStreams()
{
    close(STDIN_FILENO);
    close(STDOUT_FILENO);
    close(STDERR_FILENO);
    if (open("/dev/null", O_RDONLY) < 0) {
        syslog(LOG_USER | LOG_ERR, "Unable to open /dev/null: %m");
        return false;
    }
    if (openLogFile(kLogFile) < 0) {
        syslog(LOG_USER | LOG_ERR, "Unable to open output log file %s: %m", kLogFile);
        return false;
    }
    if (dup(STDOUT_FILENO) < 0) {
        syslog(LOG_USER | LOG_ERR, "Unable to duplicate output descriptor: %m");
        return false;
    }
    return true;
}

}  // namespace

bool detachFromTerminal()
{
    if (!forkAndLeaveParent("First fork failed"))
        return false;
    setsid();
    leaveWorkingDirectoryAndMask();
    if (!forkAndLeaveParent("Second fork failed"))
        return false;
    return redirectStandardStreams();
}

bool stayInForeground()
{
    leaveWorkingDirectoryAndMask();
    return redirectStandardStreams();
}

}  // namespace quorin
