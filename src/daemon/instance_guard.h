#pragma once

#include <sys/types.h>

#include <string>

namespace quorin {

// The shell pipeline that lists every other process whose command name
// contains "quorinDaemon": only the line whose pid field is the own pid
// is removed.
std::string guardCommand(pid_t ownPid);

// Runs the guard; its selected lines go to the terminal. Only a pipeline
// that selected something counts: a missing shell, ps or grep never
// blocks the start.
bool anotherInstanceRunning();

}  // namespace quorin
