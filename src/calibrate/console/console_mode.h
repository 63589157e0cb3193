#pragma once

namespace quorin::calibrate {

// Puts the virtual console in graphics mode (KD_GRAPHICS) while a
// picture is drawn on the framebuffer or a DRM buffer, so that the
// console neither blinks its cursor over it nor draws text into it, and
// puts the console's mode back when destroyed. The console is the
// terminal on standard input when that is a virtual console, else the
// foreground one (/dev/tty0). Where neither can be had it says so on
// standard error and changes nothing.
class ConsoleGraphicsMode {
public:
    ConsoleGraphicsMode();
    ~ConsoleGraphicsMode();
    ConsoleGraphicsMode(const ConsoleGraphicsMode&) = delete;
    ConsoleGraphicsMode& operator=(const ConsoleGraphicsMode&) = delete;

private:
    int fd = -1;
    bool opened = false;
    int previousMode = 0;
};

}  // namespace quorin::calibrate
