#include "calibrate/install/run_command.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "calibrate/system_error.h"

namespace quorin::calibrate {

namespace {

constexpr int kNotStarted = 127;
constexpr int kSignalled = 128;

int waitFor(pid_t child)
{
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            throwErrno("waitpid");
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return kSignalled + WTERMSIG(status);
}

}  // namespace

int runCommand(const std::vector<std::string>& command)
{
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (const std::string& argument : command)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawnattr_t attributes;
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t child = 0;
    const int error = posix_spawnp(&child, argv[0], nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        return kNotStarted;
    return waitFor(child);
}

}  // namespace quorin::calibrate
