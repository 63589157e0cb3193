#include "calibrate/screen/screen_owner.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/kd.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <optional>

#include <xf86drm.h>

#include "calibrate/screen/peer_program.h"
#include "calibrate/system_error.h"

namespace quorin::calibrate {

namespace {

constexpr int kMaxCards = 16;
constexpr std::size_t kMaxFileBytes = 1U << 22U;

std::string fileText(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "";
    std::string text;
    char chunk[4096];
    ssize_t got = 0;
    while (text.size() < kMaxFileBytes && (got = read(fd, chunk, sizeof chunk)) > 0)
        text.append(chunk, static_cast<std::size_t>(got));
    close(fd);
    return text;
}

// Opening a card with no master makes the opener its master, so a card
// opened without becoming master has another one.
std::optional<std::string> cardWithMaster()
{
    for (int card = 0; card < kMaxCards; ++card) {
        const std::string path = "/dev/dri/card" + std::to_string(card);
        const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            continue;
        const bool master = drmIsMaster(fd) != 0;
        close(fd);
        if (!master)
            return path;
    }
    return std::nullopt;
}

bool consoleInGraphicsMode()
{
    int fd = open("/dev/tty0", O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        fd = open("/dev/tty0", O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int mode = KD_TEXT;
    const bool graphics = ioctl(fd, KDGETMODE, &mode) == 0 && mode == KD_GRAPHICS;
    close(fd);
    return graphics;
}

int connectTo(const std::string& path, bool abstract)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() + 2 > sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path + (abstract ? 1 : 0), path.c_str(), path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + (abstract ? 1 : 0));
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

std::string userName(uid_t uid)
{
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the program has one thread
    const passwd* entry = getpwuid(uid);
    return entry ? entry->pw_name : std::to_string(uid);
}

// An X server mostly runs as root; its desktop's user is the owner of a
// process that is its client (DISPLAY names it). Only the processes this
// user may read are seen.
std::string x11DesktopUser(const std::string& display)
{
    DIR* processes = opendir("/proc");
    if (!processes)
        return "";
    std::string user;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the program has one thread
    while (const dirent* entry = readdir(processes)) {
        const std::string directory = std::string("/proc/") + entry->d_name;
        struct stat owner {};
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9' ||
            stat(directory.c_str(), &owner) < 0 || owner.st_uid == 0)
            continue;
        if (environmentNamesDisplay(fileText(directory + "/environ"), display))
            user = userName(owner.st_uid);
        if (!user.empty())
            break;
    }
    closedir(processes);
    return user;
}

bool answers(DisplayServer& server)
{
    int fd = connectTo(server.socketPath, false);
    if (fd < 0 && server.kind == DisplayServer::Kind::x11)
        fd = connectTo(server.socketPath, true);
    if (fd < 0)
        return false;
    server.program = peerProgramName(fd);
    close(fd);
    struct stat socketFile {};
    if (server.kind == DisplayServer::Kind::x11)
        server.user = x11DesktopUser(server.display);
    if (server.user.empty() && stat(server.socketPath.c_str(), &socketFile) == 0 &&
        socketFile.st_uid != 0)
        server.user = userName(socketFile.st_uid);
    return true;
}

}  // namespace

std::string screenHolder()
{
    if (const std::optional<std::string> card = cardWithMaster())
        return "the DRM device " + *card + " has another master";
    if (consoleInGraphicsMode())
        return "the console is in graphics mode";
    return "";
}

std::vector<DisplayServer> answeringDisplayServers()
{
    std::vector<DisplayServer> answering;
    for (DisplayServer& server : displayServersIn(listeningSocketPaths(fileText("/proc/net/unix"))))
        if (answers(server))
            answering.push_back(server);
    return answering;
}

void refuseHeldScreen()
{
    const std::string holder = screenHolder();
    if (!holder.empty())
        throw CalibrationFailure(heldScreenMessage(holder, answeringDisplayServers()));
}

}  // namespace quorin::calibrate
