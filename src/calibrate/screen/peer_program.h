#pragma once

#include <string>

namespace quorin::calibrate {

// The program name (/proc/PID/comm) of the process at the other end of a
// local socket, the display server a client is connected to; empty where
// it cannot be told.
std::string peerProgramName(int socketFd);

// That process's pid; 0 where it cannot be told.
int peerPid(int socketFd);

// The name of a process by its pid, without the newline; empty if gone.
std::string programNameOf(int pid);

}  // namespace quorin::calibrate
