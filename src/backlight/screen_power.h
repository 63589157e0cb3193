#pragma once

#include <string>
#include <vector>

namespace quorin {

// Where the kernel shows each display connector (card0-HDMI-A-1, ...),
// readable by anyone. Its power has no uevent: it is read.
constexpr const char* kDrmClassDirectory = "/sys/class/drm";

enum class ScreenPower { on, off, unclear };

// A connector's power from the texts of its dpms and enabled files
// (enabled null where it has none): blanked by DPMS (X, wlopm) or
// disabled (weston, labwc) is off. A text of neither kind, such as an
// empty one, is unclear.
ScreenPower parseScreenPower(const char* dpms, const char* enabled);

struct Connector {
    std::string name;
    bool connected = false;
};

// card<N>-<kind>[-<n>]: the cards themselves, render nodes and the
// version file share the directory.
bool isConnectorName(const std::string& name);

// Every connector in the directory, sorted by name; none where it cannot
// be read (no display driver loaded yet, or none at all).
std::vector<Connector> listConnectors();

std::string screenFile(const std::string& connector, const char* name);

// Room for the longest text these files hold ("Standby", "disconnected").
constexpr std::size_t kSmallText = 32;

// A connector's dpms and enabled files, held open and read again from
// their start, where sysfs gives an attribute anew: a read of the screen
// is one system call. A file whose read fails is opened anew at once (a
// connector removed and made again).
class ScreenFiles {
public:
    explicit ScreenFiles(const std::string& connector);
    ~ScreenFiles();
    ScreenFiles(const ScreenFiles&) = delete;
    ScreenFiles& operator=(const ScreenFiles&) = delete;

    // The connector's power now. On failure sets `error` (its dpms file
    // could not be read) and returns unclear; `error` is 0 otherwise.
    ScreenPower read(int& error);

private:
    struct Held {
        std::string path;
        int fd = -1;
    };
    static bool readHeld(Held& file, char (&text)[kSmallText]);

    Held dpms;
    Held enabled;
};

}  // namespace quorin
