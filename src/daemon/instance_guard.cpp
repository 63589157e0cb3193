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
    return std::system(guardCommand(getpid()).c_str()) == 0;
}

}  // namespace quorin
