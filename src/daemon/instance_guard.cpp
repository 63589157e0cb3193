#include "daemon/instance_guard.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace quorin {

std::string guardCommand(pid_t ownPid)
{
    std::ostringstream command;
    command << "ps -eo pid,comm | grep quorinDaemon | grep -v " << ownPid;
    return command.str();
}

bool anotherInstanceRunning()
{
    // The guard is a shell pipeline by design; it runs before any thread.
    // NOLINTNEXTLINE(cert-env33-c,concurrency-mt-unsafe)
    return std::system(guardCommand(getpid()).c_str()) == 0;
}

}  // namespace quorin
