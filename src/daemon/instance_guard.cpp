#include "daemon/instance_guard.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace quorin {

// The own line is matched on its whole pid field (ps pads it on the left
// with blanks only), so a daemon whose pid merely contains the starter's
// digits (412 seen from 12) is still seen.
std::string guardCommand(pid_t ownPid)
{
    std::ostringstream command;
    command << "ps -eo pid,comm | grep quorinDaemon | grep -v '^ *" << ownPid << " '";
    return command.str();
}

bool anotherInstanceRunning()
{
    // The guard is a shell pipeline by design; it runs before any thread.
    // NOLINTNEXTLINE(cert-env33-c,concurrency-mt-unsafe)
    return std::system(guardCommand(getpid()).c_str()) == 0;
}

}  // namespace quorin
