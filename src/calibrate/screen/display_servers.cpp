#include "calibrate/screen/display_servers.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <sstream>

namespace quorin::calibrate {

namespace {

// /proc/net/unix's Flags of a socket that listens (__SO_ACCEPTCON).
constexpr unsigned long kListening = 0x10000;
constexpr const char* kX11Directory = "/tmp/.X11-unix/X";
constexpr std::size_t kX11DirectoryLength = 16;
constexpr const char* kWaylandPrefix = "wayland-";
constexpr std::size_t kWaylandPrefixLength = 8;

bool digitsOnly(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

std::optional<DisplayServer> x11ServerAt(const std::string& path)
{
    const std::string plain = path[0] == '@' ? path.substr(1) : path;
    if (plain.rfind(kX11Directory, 0) != 0 || !digitsOnly(plain.substr(kX11DirectoryLength)))
        return std::nullopt;
    DisplayServer server;
    server.kind = DisplayServer::Kind::x11;
    server.socketPath = plain;
    server.display = ":" + plain.substr(kX11DirectoryLength);
    return server;
}

// libwayland's sockets are named wayland-<n>; its lock file beside one is
// no socket.
std::optional<DisplayServer> waylandServerAt(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (path[0] != '/' || slash == std::string::npos)
        return std::nullopt;
    const std::string name = path.substr(slash + 1);
    if (name.rfind(kWaylandPrefix, 0) != 0 || !digitsOnly(name.substr(kWaylandPrefixLength)))
        return std::nullopt;
    DisplayServer server;
    server.kind = DisplayServer::Kind::wayland;
    server.socketPath = path;
    server.display = name;
    server.runtimeDir = path.substr(0, slash);
    return server;
}

std::string describe(const DisplayServer& server)
{
    const char* kind =
        server.kind == DisplayServer::Kind::x11 ? "an X server" : "a Wayland compositor";
    std::string text =
        "  " + (server.program.empty() ? std::string(kind) : server.program + ", " + kind);
    text += server.kind == DisplayServer::Kind::x11 ? " on display " + server.display
                                                    : " at " + server.socketPath;
    text += ": run quorin-calibrate in its session";
    if (!server.user.empty())
        text += ", as " + server.user + ",";
    return text + " with " + reachingEnvironment(server);
}

}  // namespace

std::vector<std::string> listeningSocketPaths(const std::string& procNetUnix)
{
    std::vector<std::string> paths;
    std::istringstream lines(procNetUnix);
    std::string line;
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line)) {
        // Num RefCount Protocol Flags Type St Inode Path
        std::array<std::string, 8> fields;
        std::istringstream words(line);
        for (std::string& field : fields)
            words >> field;
        if (words.fail())
            continue;
        if ((std::strtoul(fields[3].c_str(), nullptr, 16) & kListening) != 0)
            paths.push_back(fields[7]);
    }
    return paths;
}

std::optional<DisplayServer> displayServerAt(const std::string& socketPath)
{
    if (socketPath.empty())
        return std::nullopt;
    if (std::optional<DisplayServer> x11 = x11ServerAt(socketPath))
        return x11;
    return waylandServerAt(socketPath);
}

std::vector<DisplayServer> displayServersIn(const std::vector<std::string>& socketPaths)
{
    std::vector<DisplayServer> servers;
    for (const std::string& path : socketPaths) {
        std::optional<DisplayServer> server = displayServerAt(path);
        if (server && std::none_of(servers.begin(), servers.end(), [&](const DisplayServer& seen) {
                return seen.socketPath == server->socketPath;
            }))
            servers.push_back(*server);
    }
    return servers;
}

bool environmentNamesDisplay(const std::string& environment, const std::string& display)
{
    const std::string wanted = "DISPLAY=" + display;
    for (std::size_t at = 0; at < environment.size();) {
        const std::size_t end = std::min(environment.find('\0', at), environment.size());
        const std::string entry = environment.substr(at, end - at);
        if (entry == wanted || entry == wanted + ".0")
            return true;
        at = end + 1;
    }
    return false;
}

std::string reachingEnvironment(const DisplayServer& server)
{
    if (server.kind == DisplayServer::Kind::x11)
        return "DISPLAY=" + server.display;
    return "WAYLAND_DISPLAY=" + server.display + " XDG_RUNTIME_DIR=" + server.runtimeDir;
}

std::string heldScreenMessage(const std::string& holder, const std::vector<DisplayServer>& servers)
{
    std::string text = "a display server holds the screen (" + holder +
                       "): targets drawn on the console would not be seen";
    if (servers.empty())
        return text + "; no X server or Wayland compositor socket was found: run quorin-calibrate "
                      "inside the program that holds the screen, or stop it";
    for (const DisplayServer& server : servers)
        text += "\n" + describe(server);
    return text;
}

}  // namespace quorin::calibrate
