#pragma once

#include <memory>
#include <string>

#include "calibrate/calibrate_options.h"
#include "calibrate/geometry.h"

namespace quorin::calibrate {

// The panel's own screen, on which the targets appear. Each kind keeps to
// its own file: a Wayland client, a DRM/KMS dumb buffer, the framebuffer.
class Screen {
public:
    Screen() = default;
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;
    virtual ~Screen() = default;

    virtual const char* kind() const = 0;
    // Zero until the screen knows its size (a Wayland surface learns it
    // from the compositor, which may also change it later).
    virtual Size size() const = 0;
    // Shows the target picture (see canvas.h) centred on this pixel.
    virtual void draw(int x, int y) = 0;

    // For the event loop: a descriptor to wait on (-1 for none), what to
    // do before waiting and after it woke.
    virtual int pollFd() const { return -1; }
    virtual void beforePoll() {}
    virtual void afterPoll(bool readable) { (void)readable; }
    // Escape was pressed on the screen's own keyboard (Wayland).
    virtual bool escapePressed() const { return false; }
    // The compositor closed the window.
    virtual bool closed() const { return false; }
    // The picture must be drawn again (a new configure); true once.
    virtual bool needsRedraw() { return false; }
};

// The screen the options ask for; for "auto" Wayland when a compositor
// answers, else DRM, else the framebuffer. Throws when none works.
std::unique_ptr<Screen> openScreen(const CalibrateOptions& options);

}  // namespace quorin::calibrate
