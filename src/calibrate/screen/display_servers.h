#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorin::calibrate {

// A display server found by its listening socket, and how a client of
// the desktop's user reaches it.
struct DisplayServer {
    enum class Kind { x11, wayland };
    Kind kind = Kind::x11;
    std::string socketPath;
    std::string display;     // ":0", or the Wayland socket's name "wayland-0"
    std::string runtimeDir;  // Wayland: the directory the socket is in
    std::string program;     // "Xorg", "labwc", ... where it could be told
    std::string user;        // whose desktop it is, where it could be told
};

// The paths of the listening sockets in the text of /proc/net/unix
// (abstract ones with their leading '@').
std::vector<std::string> listeningSocketPaths(const std::string& procNetUnix);

// What a socket path is: an X server's /tmp/.X11-unix/X<n> (the abstract
// twin counts as the same), a compositor's <dir>/wayland-<n>; else none.
std::optional<DisplayServer> displayServerAt(const std::string& socketPath);

// The same servers once each, in the order found.
std::vector<DisplayServer> displayServersIn(const std::vector<std::string>& socketPaths);

// Whether a process's environment (/proc/PID/environ: NUL-separated)
// has DISPLAY set to this display (or its screen 0).
bool environmentNamesDisplay(const std::string& environment, const std::string& display);

// The environment that reaches the server: "DISPLAY=:0", or
// "WAYLAND_DISPLAY=wayland-0 XDG_RUNTIME_DIR=/run/user/1000".
std::string reachingEnvironment(const DisplayServer& server);

// Why the program does not draw on the console: what holds the screen,
// and for each server found how to run the program under it.
std::string heldScreenMessage(const std::string& holder, const std::vector<DisplayServer>& servers);

}  // namespace quorin::calibrate
