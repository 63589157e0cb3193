#pragma once

#include <string>
#include <vector>

#include <termios.h>

namespace quorin::calibrate {

// Escape from where a program drawing without a compositor can hear it:
// the terminal on standard input, put in non-canonical mode without echo
// for the run and restored after it, and, when asked for, every keyboard
// among the evdev devices (those with KEY_ESC) other than the touch
// screen. A compositor's keyboard is its window's (see WaylandScreen).
class EscapeKeys {
public:
    EscapeKeys(bool keyboards, const std::string& touchPath);
    ~EscapeKeys();
    EscapeKeys(const EscapeKeys&) = delete;
    EscapeKeys& operator=(const EscapeKeys&) = delete;

    const std::vector<int>& fds() const { return descriptors; }
    // Reads what is waiting on fd; true when it was Escape.
    static bool escapeOn(int fd);

private:
    void openTerminal();
    void openKeyboards(const std::string& touchPath);

    std::vector<int> descriptors;
    bool terminalRaw = false;
    termios savedTerminal{};
};

// Whether the bytes read from a terminal in one go are a lone Escape (a
// key such as an arrow sends Escape followed by more).
bool isLoneEscape(const char* bytes, long count);

}  // namespace quorin::calibrate
