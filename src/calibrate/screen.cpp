#include "calibrate/screen.h"

#include <iostream>

#include "calibrate/drm_screen.h"
#include "calibrate/fbdev_screen.h"
#include "calibrate/system_error.h"
#include "calibrate/wayland_screen.h"

namespace quorin::calibrate {

namespace {

std::unique_ptr<Screen> waylandOrFail()
{
    std::unique_ptr<Screen> screen = connectWaylandScreen();
    if (!screen)
        throw CalibrationFailure("no Wayland compositor answers (WAYLAND_DISPLAY, "
                                 "XDG_RUNTIME_DIR)");
    return screen;
}

// Without a compositor: DRM, and where that fails, the framebuffer.
std::unique_ptr<Screen> consoleScreen(const CalibrateOptions& options)
{
    try {
        return openDrmScreen(options.drmDevice);
    } catch (const std::exception& drmFailure) {
        std::cerr << "quorin-calibrate: " << drmFailure.what() << "; trying " << options.fbDevice
                  << std::endl;
    }
    return openFbdevScreen(options.fbDevice);
}

}  // namespace

std::unique_ptr<Screen> openScreen(const CalibrateOptions& options)
{
    switch (options.display) {
    case DisplayChoice::wayland:
        return waylandOrFail();
    case DisplayChoice::drm:
        return openDrmScreen(options.drmDevice);
    case DisplayChoice::fbdev:
        return openFbdevScreen(options.fbDevice);
    case DisplayChoice::automatic:
        break;
    }
    if (std::unique_ptr<Screen> screen = connectWaylandScreen())
        return screen;
    return consoleScreen(options);
}

}  // namespace quorin::calibrate
