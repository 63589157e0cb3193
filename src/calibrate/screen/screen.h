#pragma once

#include <memory>
#include <string>
#include <utility>

#include "calibrate/calibrate_options.h"
#include "calibrate/fit/geometry.h"
#include "calibrate/fit/output_frame.h"

namespace quorin::calibrate {

// The panel's own screen, on which the targets appear. Each kind keeps to
// its own file: a Wayland client, an X client, a DRM/KMS dumb buffer, the
// framebuffer.
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
    // The longest the loop may wait before afterPoll; -1: no limit.
    virtual int pollLimitMs() const { return -1; }
    virtual void beforePoll() {}
    virtual void afterPoll(bool readable) { (void)readable; }
    // Whether the screen has a keyboard of its own (a display server's),
    // so that Escape comes through escapePressed() alone.
    virtual bool ownsKeyboard() const { return false; }
    // Escape was pressed on the screen's own keyboard.
    virtual bool escapePressed() const { return false; }
    // The compositor closed the window.
    virtual bool closed() const { return false; }
    // The picture must be drawn again (a new configure); true once.
    virtual bool needsRedraw() { return false; }
    // The output's turn and the frame its display server wants the matrix
    // in; a screen drawn on directly is its own, unturned frame, with no
    // server named.
    virtual ScreenFrame frame() const { return {}; }
};

// A window of a display server's: its keyboard gives Escape, and the
// server may close the window or ask for the picture again.
class ServerWindowScreen : public Screen {
public:
    bool ownsKeyboard() const override { return true; }
    bool escapePressed() const override { return escape; }
    bool closed() const override { return isClosed; }
    bool needsRedraw() override { return std::exchange(redraw, false); }

protected:
    bool escape = false;
    bool isClosed = false;
    bool redraw = false;
};

// What a screen chooses its output by, among several: the one the command
// line names, else the one the display server ties the touch screen to.
struct OutputRequest {
    std::string asked;       // --output
    std::string udevOutput;  // the touch screen's WL_OUTPUT, which ties it for weston
};

// The screen the options ask for; for "auto" Wayland when a compositor
// answers, else X, else DRM, else the framebuffer, unless a display
// server holds the screen. Throws when none works, OutputNotChosen where
// the output is not told (see output_choice.h).
std::unique_ptr<Screen> openScreen(const CalibrateOptions& options, const OutputRequest& request);

}  // namespace quorin::calibrate
