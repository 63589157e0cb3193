#include "calibrate/screen/screen.h"

#include <iostream>

#include "calibrate/console/drm_screen.h"
#include "calibrate/console/fbdev_screen.h"
#include "calibrate/environment.h"
#include "calibrate/screen/output_choice.h"
#include "calibrate/screen/screen_owner.h"
#include "calibrate/system_error.h"
#include "calibrate/wayland/wayland_screen.h"
#include "calibrate/x11/x11_screen.h"

namespace quorin::calibrate {

namespace {

bool set(const char* name)
{
    return !environmentValue(name).empty();
}

// libwayland finds a socket only through these, and complains on standard
// error when asked without them: an X session usually has none.
bool waylandReachable()
{
    return set("WAYLAND_SOCKET") || set("XDG_RUNTIME_DIR") ||
           environmentValue("WAYLAND_DISPLAY").rfind('/', 0) == 0;
}

std::unique_ptr<Screen> waylandOrFail(const OutputRequest& request)
{
    std::unique_ptr<Screen> screen = connectWaylandScreen(request);
    if (!screen)
        throw CalibrationFailure("no Wayland compositor answers (WAYLAND_DISPLAY, "
                                 "XDG_RUNTIME_DIR)");
    return screen;
}

std::unique_ptr<Screen> x11OrFail(const std::string& asked)
{
    std::unique_ptr<Screen> screen = connectX11Screen(asked);
    if (!screen)
        throw CalibrationFailure(set("DISPLAY") ? "no X server answers on DISPLAY=" +
                                                      environmentValue("DISPLAY")
                                                : std::string("DISPLAY is not set"));
    return screen;
}

std::unique_ptr<Screen> drmUnlessHeld(const CalibrateOptions& options)
{
    refuseHeldScreen();
    return openDrmScreen(options.drmDevice, options.output);
}

// Asked for by name, the framebuffer is drawn on even where a display
// server shows something else; the user is told.
std::unique_ptr<Screen> fbdevAsAsked(const CalibrateOptions& options)
{
    const std::string holder = screenHolder();
    if (!holder.empty())
        std::cerr << "quorin-calibrate: " << holder << ": the targets on " << options.fbDevice
                  << " may not be seen" << std::endl;
    return openFbdevScreen(options.fbDevice);
}

// Without a display server: DRM, and where that fails, the framebuffer,
// which has no outputs to name.
std::unique_ptr<Screen> consoleScreen(const CalibrateOptions& options)
{
    refuseHeldScreen();
    try {
        return openDrmScreen(options.drmDevice, options.output);
    } catch (const OutputNotChosen&) {
        throw;
    } catch (const std::exception& drmFailure) {
        if (!options.output.empty())
            throw;
        std::cerr << "quorin-calibrate: " << drmFailure.what() << "; trying " << options.fbDevice
                  << std::endl;
    }
    return openFbdevScreen(options.fbDevice);
}

}  // namespace

std::unique_ptr<Screen> openScreen(const CalibrateOptions& options, const OutputRequest& request)
{
    switch (options.display) {
    case DisplayChoice::wayland:
        return waylandOrFail(request);
    case DisplayChoice::x11:
        return x11OrFail(request.asked);
    case DisplayChoice::drm:
        return drmUnlessHeld(options);
    case DisplayChoice::fbdev:
        return fbdevAsAsked(options);
    case DisplayChoice::automatic:
        break;
    }
    if (waylandReachable())
        if (std::unique_ptr<Screen> screen = connectWaylandScreen(request))
            return screen;
    if (std::unique_ptr<Screen> screen = connectX11Screen(request.asked))
        return screen;
    return consoleScreen(options);
}

}  // namespace quorin::calibrate
