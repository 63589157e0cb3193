#include "calibrate/screen/peer_program.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quorin::calibrate {

std::string programNameOf(int pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/comm";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "";
    char name[64];
    const ssize_t got = read(fd, name, sizeof name - 1);
    close(fd);
    if (got <= 0)
        return "";
    std::string text(name, static_cast<std::size_t>(got));
    if (text.back() == '\n')
        text.pop_back();
    return text;
}

int peerPid(int socketFd)
{
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &peer, &length) < 0 || peer.pid <= 0)
        return 0;
    return peer.pid;
}

std::string peerProgramName(int socketFd)
{
    const int pid = peerPid(socketFd);
    return pid > 0 ? programNameOf(pid) : "";
}

}  // namespace quorin::calibrate
