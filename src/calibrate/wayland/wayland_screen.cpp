#include "calibrate/wayland/wayland_screen.h"

#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include <wayland-client.h>

#include "calibrate/install/labwc_tie.h"
#include "calibrate/screen/canvas.h"
#include "calibrate/screen/output_choice.h"
#include "calibrate/screen/peer_program.h"
#include "calibrate/system_error.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace quorin::calibrate {

namespace {

constexpr std::uint32_t kCompositorVersion = 4;
constexpr std::uint32_t kSeatVersion = 4;
constexpr std::uint32_t kWmBaseVersion = 1;
// Version 4 names the output; xdg-output 2 names it too, and gives its
// place in the layout, which wl_output's geometry leaves 0,0 on wlroots.
constexpr std::uint32_t kOutputVersion = 4;
constexpr std::uint32_t kXdgOutputVersion = 3;

// An output as the compositor describes it; kept at a fixed address for
// its listeners.
struct OutputInfo {
    wl_output* output = nullptr;
    zxdg_output_v1* described = nullptr;
    std::int32_t transform = WL_OUTPUT_TRANSFORM_NORMAL;
    std::string name;
    Rect area;  // wl_output's position and current mode
    int scale = 1;
    Rect logical;  // xdg-output's, where offered
};

// The output's place in the layout, in the compositor's logical pixels:
// xdg-output's, else its mode turned and scaled as the compositor does.
NamedOutput namedOutput(const OutputInfo& info)
{
    if (info.logical.width > 0 && info.logical.height > 0)
        return {info.name, info.logical};
    const bool sideways = (info.transform & WL_OUTPUT_TRANSFORM_90) != 0;
    const int scale = info.scale > 0 ? info.scale : 1;
    const int width = (sideways ? info.area.height : info.area.width) / scale;
    const int height = (sideways ? info.area.width : info.area.height) / scale;
    return {info.name, {info.area.x, info.area.y, width, height}};
}

// One picture's pixels, kept until the compositor releases them or the
// window goes.
struct ShmFrame {
    ShmFrame() = default;
    ShmFrame(const ShmFrame&) = delete;
    ShmFrame& operator=(const ShmFrame&) = delete;
    ~ShmFrame()
    {
        if (buffer)
            wl_buffer_destroy(buffer);
        if (pixels != MAP_FAILED)
            munmap(pixels, bytes);
    }

    wl_buffer* buffer = nullptr;
    void* pixels = MAP_FAILED;
    std::size_t bytes = 0;
    bool released = false;
};

void releaseFrame(void* data, wl_buffer* /*buffer*/)
{
    static_cast<ShmFrame*>(data)->released = true;
}

const wl_buffer_listener& frameListener()
{
    static const wl_buffer_listener listener = [] {
        wl_buffer_listener l{};
        l.release = releaseFrame;
        return l;
    }();
    return listener;
}

int sharedMemory(std::size_t bytes)
{
    const int fd = checked(memfd_create("quorin-calibrate", MFD_CLOEXEC), "memfd_create");
    if (ftruncate(fd, static_cast<off_t>(bytes)) < 0) {
        const int error = errno;
        close(fd);
        errno = error;
        throwErrno("ftruncate");
    }
    return fd;
}

class WaylandScreen : public ServerWindowScreen {
public:
    WaylandScreen(wl_display* display, OutputRequest request)
        : display(display),
          request(std::move(request))
    {
    }
    ~WaylandScreen() override;

    void start();
    const char* kind() const override { return "wayland"; }
    Size size() const override { return current; }
    void draw(int x, int y) override;
    int pollFd() const override { return wl_display_get_fd(display); }
    void beforePoll() override;
    void afterPoll(bool readable) override;
    ScreenFrame frame() const override;

private:
    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version);
    static void seatCapabilities(void* data, wl_seat* seat, std::uint32_t capabilities);
    static void pointerEnter(void* data, wl_pointer* pointer, std::uint32_t serial,
                             wl_surface* surface, wl_fixed_t x, wl_fixed_t y);
    static void surfaceEnter(void* data, wl_surface* surface, wl_output* output);
    void bindOutput(wl_registry* registry, std::uint32_t name, std::uint32_t version);
    void watchPointer(wl_seat* seat);
    void watchKeyboard(wl_seat* seat);
    static void key(void* data, wl_keyboard* keyboard, std::uint32_t serial, std::uint32_t time,
                    std::uint32_t key, std::uint32_t state);
    static void toplevelConfigure(void* data, xdg_toplevel* toplevel, std::int32_t width,
                                  std::int32_t height, wl_array* states);
    static void surfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial);
    static void toplevelClose(void* data, xdg_toplevel* toplevel);

    void bindGlobals();
    void describeOutputs();
    void placeOnOutput();
    void tieToOutput(const std::string& name);
    void makeWindow();
    ShmFrame& newFrame(Size frameSize);
    void showPlaceholder();
    void checkConnection();

    wl_display* display;
    OutputRequest request;
    wl_registry* registry = nullptr;
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* wmBase = nullptr;
    zxdg_output_manager_v1* outputManager = nullptr;
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    wl_pointer* pointer = nullptr;
    std::vector<std::unique_ptr<OutputInfo>> outputs;
    wl_output* entered = nullptr;        // the output the window is on, once told
    const OutputInfo* chosen = nullptr;  // the output asked for, or the touch screen's
    OutputPlace place;
    std::vector<std::string> globals;
    std::string compositorName;
    int compositorPid = 0;
    wl_surface* surface = nullptr;
    xdg_surface* windowSurface = nullptr;
    xdg_toplevel* toplevel = nullptr;
    std::vector<std::unique_ptr<ShmFrame>> frames;
    Size current;
    Size offered;  // the size of the last toplevel configure, 0x0: ours to choose
};

template <typename Listener, typename Fill> const Listener& listenerOf(Fill fill)
{
    static const Listener listener = [&fill] {
        Listener l{};
        fill(l);
        return l;
    }();
    return listener;
}

void ignoreRemoval(void* /*data*/, wl_registry* /*registry*/, std::uint32_t /*name*/) {}
void pong(void* /*data*/, xdg_wm_base* base, std::uint32_t serial)
{
    xdg_wm_base_pong(base, serial);
}
void seatName(void* /*data*/, wl_seat* /*seat*/, const char* /*name*/) {}
void keymap(void* /*data*/, wl_keyboard* /*keyboard*/, std::uint32_t /*format*/, int fd,
            std::uint32_t /*size*/)
{
    close(fd);
}
void keyboardEnter(void* /*data*/, wl_keyboard* /*keyboard*/, std::uint32_t /*serial*/,
                   wl_surface* /*surface*/, wl_array* /*keys*/)
{
}
void keyboardLeave(void* /*data*/, wl_keyboard* /*keyboard*/, std::uint32_t /*serial*/,
                   wl_surface* /*surface*/)
{
}
void modifiers(void* /*data*/, wl_keyboard* /*keyboard*/, std::uint32_t /*serial*/,
               std::uint32_t /*depressed*/, std::uint32_t /*latched*/, std::uint32_t /*locked*/,
               std::uint32_t /*group*/)
{
}
void repeatInfo(void* /*data*/, wl_keyboard* /*keyboard*/, std::int32_t /*rate*/,
                std::int32_t /*delay*/)
{
}

void outputGeometry(void* data, wl_output* /*output*/, std::int32_t x, std::int32_t y,
                    std::int32_t /*width*/, std::int32_t /*height*/, std::int32_t /*subpixel*/,
                    const char* /*make*/, const char* /*model*/, std::int32_t transform)
{
    auto* info = static_cast<OutputInfo*>(data);
    info->transform = transform;
    info->area.x = x;
    info->area.y = y;
}
void outputMode(void* data, wl_output* /*output*/, std::uint32_t flags, std::int32_t width,
                std::int32_t height, std::int32_t /*refresh*/)
{
    auto* info = static_cast<OutputInfo*>(data);
    if ((flags & WL_OUTPUT_MODE_CURRENT) != 0) {
        info->area.width = width;
        info->area.height = height;
    }
}
void outputDone(void* /*data*/, wl_output* /*output*/) {}
void outputScale(void* data, wl_output* /*output*/, std::int32_t factor)
{
    static_cast<OutputInfo*>(data)->scale = factor;
}
void outputName(void* data, wl_output* /*output*/, const char* name)
{
    static_cast<OutputInfo*>(data)->name = name;
}
void outputDescription(void* /*data*/, wl_output* /*output*/, const char* /*description*/) {}
void logicalPosition(void* data, zxdg_output_v1* /*output*/, std::int32_t x, std::int32_t y)
{
    auto* info = static_cast<OutputInfo*>(data);
    info->logical.x = x;
    info->logical.y = y;
}
void logicalSize(void* data, zxdg_output_v1* /*output*/, std::int32_t width, std::int32_t height)
{
    auto* info = static_cast<OutputInfo*>(data);
    info->logical.width = width;
    info->logical.height = height;
}
void describedDone(void* /*data*/, zxdg_output_v1* /*output*/) {}
void describedName(void* data, zxdg_output_v1* /*output*/, const char* name)
{
    auto* info = static_cast<OutputInfo*>(data);
    if (info->name.empty())
        info->name = name;
}
void describedDescription(void* /*data*/, zxdg_output_v1* /*output*/, const char* /*description*/)
{
}
void surfaceLeave(void* /*data*/, wl_surface* /*surface*/, wl_output* /*output*/) {}
void pointerLeave(void* /*data*/, wl_pointer* /*pointer*/, std::uint32_t /*serial*/,
                  wl_surface* /*surface*/)
{
}
void pointerMotion(void* /*data*/, wl_pointer* /*pointer*/, std::uint32_t /*time*/,
                   wl_fixed_t /*x*/, wl_fixed_t /*y*/)
{
}
void pointerButton(void* /*data*/, wl_pointer* /*pointer*/, std::uint32_t /*serial*/,
                   std::uint32_t /*time*/, std::uint32_t /*button*/, std::uint32_t /*state*/)
{
}
void pointerAxis(void* /*data*/, wl_pointer* /*pointer*/, std::uint32_t /*time*/,
                 std::uint32_t /*axis*/, wl_fixed_t /*value*/)
{
}

}  // namespace

WaylandScreen::~WaylandScreen()
{
    frames.clear();
    if (toplevel)
        xdg_toplevel_destroy(toplevel);
    if (windowSurface)
        xdg_surface_destroy(windowSurface);
    if (surface)
        wl_surface_destroy(surface);
    if (keyboard)
        wl_keyboard_destroy(keyboard);
    if (pointer)
        wl_pointer_destroy(pointer);
    for (const std::unique_ptr<OutputInfo>& info : outputs) {
        if (info->described)
            zxdg_output_v1_destroy(info->described);
        wl_output_destroy(info->output);
    }
    if (outputManager)
        zxdg_output_manager_v1_destroy(outputManager);
    if (seat)
        wl_seat_destroy(seat);
    if (wmBase)
        xdg_wm_base_destroy(wmBase);
    if (shm)
        wl_shm_destroy(shm);
    if (compositor)
        wl_compositor_destroy(compositor);
    if (registry)
        wl_registry_destroy(registry);
    wl_display_flush(display);
    wl_display_disconnect(display);
}

void WaylandScreen::start()
{
    compositorName = peerProgramName(wl_display_get_fd(display));
    compositorPid = peerPid(wl_display_get_fd(display));
    bindGlobals();
    describeOutputs();
    placeOnOutput();
    makeWindow();
}

void WaylandScreen::bindGlobals()
{
    registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listenerOf<wl_registry_listener>([](auto& l) {
                                 l.global = global;
                                 l.global_remove = ignoreRemoval;
                             }),
                             this);
    // The second round trip brings the outputs' descriptions.
    if (wl_display_roundtrip(display) < 0 || wl_display_roundtrip(display) < 0)
        throwErrno("Wayland: the compositor did not answer");
    if (!compositor || !shm || !wmBase)
        throw CalibrationFailure("Wayland: the compositor offers no wl_compositor, wl_shm or "
                                 "xdg_wm_base (xdg-shell)");
}

void WaylandScreen::global(void* data, wl_registry* registry, std::uint32_t name,
                           const char* interface, std::uint32_t version)
{
    auto* self = static_cast<WaylandScreen*>(data);
    self->globals.emplace_back(interface);
    const auto bind = [&](const wl_interface* type, std::uint32_t wanted) {
        return wl_registry_bind(registry, name, type, std::min(version, wanted));
    };
    if (std::strcmp(interface, wl_compositor_interface.name) == 0 && !self->compositor)
        self->compositor =
            static_cast<wl_compositor*>(bind(&wl_compositor_interface, kCompositorVersion));
    else if (std::strcmp(interface, wl_shm_interface.name) == 0 && !self->shm)
        self->shm = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
    else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0 && !self->wmBase) {
        self->wmBase = static_cast<xdg_wm_base*>(bind(&xdg_wm_base_interface, kWmBaseVersion));
        xdg_wm_base_add_listener(
            self->wmBase, &listenerOf<xdg_wm_base_listener>([](auto& l) { l.ping = pong; }), self);
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->seat) {
        self->seat = static_cast<wl_seat*>(bind(&wl_seat_interface, kSeatVersion));
        wl_seat_add_listener(self->seat, &listenerOf<wl_seat_listener>([](auto& l) {
                                 l.capabilities = seatCapabilities;
                                 l.name = seatName;
                             }),
                             self);
    } else if (std::strcmp(interface, wl_output_interface.name) == 0)
        self->bindOutput(registry, name, version);
    else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0 &&
             !self->outputManager)
        self->outputManager = static_cast<zxdg_output_manager_v1*>(
            bind(&zxdg_output_manager_v1_interface, kXdgOutputVersion));
}

void WaylandScreen::bindOutput(wl_registry* registry, std::uint32_t name, std::uint32_t version)
{
    auto info = std::make_unique<OutputInfo>();
    info->output = static_cast<wl_output*>(
        wl_registry_bind(registry, name, &wl_output_interface, std::min(version, kOutputVersion)));
    wl_output_add_listener(info->output, &listenerOf<wl_output_listener>([](auto& l) {
                               l.geometry = outputGeometry;
                               l.mode = outputMode;
                               l.done = outputDone;
                               l.scale = outputScale;
                               l.name = outputName;
                               l.description = outputDescription;
                           }),
                           info.get());
    outputs.push_back(std::move(info));
}

// The outputs' names and places, where the compositor tells them.
void WaylandScreen::describeOutputs()
{
    if (!outputManager)
        return;
    for (const std::unique_ptr<OutputInfo>& info : outputs) {
        info->described = zxdg_output_manager_v1_get_xdg_output(outputManager, info->output);
        zxdg_output_v1_add_listener(info->described,
                                    &listenerOf<zxdg_output_v1_listener>([](auto& l) {
                                        l.logical_position = logicalPosition;
                                        l.logical_size = logicalSize;
                                        l.done = describedDone;
                                        l.name = describedName;
                                        l.description = describedDescription;
                                    }),
                                    info.get());
    }
    if (wl_display_roundtrip(display) < 0)
        throwErrno("Wayland: the compositor did not describe its outputs");
}

// Among several outputs, the window goes full screen on the one asked
// for, else on the one the compositor ties the touch screen to; the
// matrix's frame follows from how the compositor brings a touch there.
void WaylandScreen::placeOnOutput()
{
    const bool labwc = compositorName == "labwc";
    const std::string tied = labwc ? labwcTiedOutput() : request.udevOutput;
    std::vector<NamedOutput> named;
    for (const std::unique_ptr<OutputInfo>& info : outputs)
        named.push_back(namedOutput(*info));
    const NamedOutput* choice = chooseOutput(named, request.asked, tied, frame().server);
    if (!choice)
        return;
    chosen = outputs[static_cast<std::size_t>(choice - named.data())].get();
    if (named.size() == 1 && request.asked.empty() && tied != choice->name)
        return;
    place.name = choice->name;
    place.output = choice->area;
    place.layout = layoutBox(named);
    const bool weston = waylandMatrixFrame(compositorName, globals) == MatrixFrame::unturnedOutput;
    place.tiedByRule = weston;
    place.tiedBy = weston ? "WL_OUTPUT in the rule" : labwc ? "its rc.xml" : "";
    // Only a name the command line gave, checked, goes into rc.xml.
    if (labwc && tied != choice->name && !request.asked.empty())
        tieToOutput(choice->name);
    place.spread = waylandTouchSpread(compositorName, globals, labwc && !place.tiedBy.empty());
}

// labwc's own tie, which outlasts a change of the layout; where it cannot
// be written the touch stays spread over the layout.
void WaylandScreen::tieToOutput(const std::string& name)
{
    try {
        place.tiedBy = tieInLabwcConfig(name, compositorPid) + ", written now";
    } catch (const std::exception& failure) {
        place.tiedBy.clear();
        std::cerr << "quorin-calibrate: cannot tie the touch screen to " << name
                  << " in labwc's rc.xml: " << failure.what() << std::endl;
    }
}

// The turn of the output the window is on: the one chosen, else the one
// it entered, else the only one there is.
ScreenFrame WaylandScreen::frame() const
{
    ScreenFrame result;
    result.server = compositorName.empty() ? "the Wayland compositor" : compositorName;
    result.frame = waylandMatrixFrame(compositorName, globals);
    result.place = place;
    for (const std::unique_ptr<OutputInfo>& info : outputs)
        if (info.get() == chosen ||
            (!chosen && (info->output == entered || (!entered && outputs.size() == 1))))
            result.turn = turnOfWaylandTransform(info->transform);
    return result;
}

void WaylandScreen::surfaceEnter(void* data, wl_surface* /*surface*/, wl_output* output)
{
    static_cast<WaylandScreen*>(data)->entered = output;
}

// The pointer is hidden over the window: a cursor over a cross would hide
// the spot to touch.
void WaylandScreen::pointerEnter(void* /*data*/, wl_pointer* pointer, std::uint32_t serial,
                                 wl_surface* /*surface*/, wl_fixed_t /*x*/, wl_fixed_t /*y*/)
{
    wl_pointer_set_cursor(pointer, serial, nullptr, 0, 0);
}

void WaylandScreen::seatCapabilities(void* data, wl_seat* seat, std::uint32_t capabilities)
{
    auto* self = static_cast<WaylandScreen*>(data);
    if ((capabilities & WL_SEAT_CAPABILITY_POINTER) != 0 && !self->pointer)
        self->watchPointer(seat);
    if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0 && !self->keyboard)
        self->watchKeyboard(seat);
}

void WaylandScreen::watchPointer(wl_seat* seat)
{
    pointer = wl_seat_get_pointer(seat);
    wl_pointer_add_listener(pointer, &listenerOf<wl_pointer_listener>([](auto& l) {
                                l.enter = pointerEnter;
                                l.leave = pointerLeave;
                                l.motion = pointerMotion;
                                l.button = pointerButton;
                                l.axis = pointerAxis;
                            }),
                            this);
}

void WaylandScreen::watchKeyboard(wl_seat* seat)
{
    keyboard = wl_seat_get_keyboard(seat);
    wl_keyboard_add_listener(keyboard, &listenerOf<wl_keyboard_listener>([](auto& l) {
                                 l.keymap = keymap;
                                 l.enter = keyboardEnter;
                                 l.leave = keyboardLeave;
                                 l.key = key;
                                 l.modifiers = modifiers;
                                 l.repeat_info = repeatInfo;
                             }),
                             this);
}

void WaylandScreen::key(void* data, wl_keyboard* /*keyboard*/, std::uint32_t /*serial*/,
                        std::uint32_t /*time*/, std::uint32_t key, std::uint32_t state)
{
    if (key == KEY_ESC && state == WL_KEYBOARD_KEY_STATE_PRESSED)
        static_cast<WaylandScreen*>(data)->escape = true;
}

// Full screen from the first commit on, so that the compositor's first
// configure already tells the output's size; cage's first says 0x0 and the
// real size comes in the next one.
void WaylandScreen::makeWindow()
{
    surface = wl_compositor_create_surface(compositor);
    wl_surface_add_listener(surface, &listenerOf<wl_surface_listener>([](auto& l) {
                                l.enter = surfaceEnter;
                                l.leave = surfaceLeave;
                            }),
                            this);
    windowSurface = xdg_wm_base_get_xdg_surface(wmBase, surface);
    xdg_surface_add_listener(
        windowSurface,
        &listenerOf<xdg_surface_listener>([](auto& l) { l.configure = surfaceConfigure; }), this);
    toplevel = xdg_surface_get_toplevel(windowSurface);
    xdg_toplevel_add_listener(toplevel, &listenerOf<xdg_toplevel_listener>([](auto& l) {
                                  l.configure = toplevelConfigure;
                                  l.close = toplevelClose;
                              }),
                              this);
    xdg_toplevel_set_title(toplevel, "Touch panel calibration");
    xdg_toplevel_set_app_id(toplevel, "quorin-calibrate");
    // With one output the compositor's own choice is that one.
    xdg_toplevel_set_fullscreen(toplevel, chosen && !place.name.empty() ? chosen->output : nullptr);
    wl_surface_commit(surface);
    checkConnection();
}

void WaylandScreen::toplevelConfigure(void* data, xdg_toplevel* /*toplevel*/, std::int32_t width,
                                      std::int32_t height, wl_array* /*states*/)
{
    static_cast<WaylandScreen*>(data)->offered = {width, height};
}

void WaylandScreen::toplevelClose(void* data, xdg_toplevel* /*toplevel*/)
{
    static_cast<WaylandScreen*>(data)->isClosed = true;
}

// A configure is acknowledged at once. With a size the picture is drawn
// again at that size. A 0x0 one leaves the size to us: a compositor such
// as cage maps the window, and tells the output's size, only once a
// buffer is attached, so one pixel of background goes up meanwhile.
void WaylandScreen::surfaceConfigure(void* data, xdg_surface* surface, std::uint32_t serial)
{
    auto* self = static_cast<WaylandScreen*>(data);
    xdg_surface_ack_configure(surface, serial);
    if (self->offered.width > 0 && self->offered.height > 0) {
        self->current = self->offered;
        self->redraw = true;
    } else if (self->current.width == 0)
        self->showPlaceholder();
}

void WaylandScreen::showPlaceholder()
{
    ShmFrame& frame = newFrame({1, 1});
    const std::uint32_t pixel = packColour(kBackground, PixelFormat{});
    std::memcpy(frame.pixels, &pixel, sizeof pixel);
    wl_surface_attach(surface, frame.buffer, 0, 0);
    wl_surface_damage(surface, 0, 0, 1, 1);
    wl_surface_commit(surface);
}

ShmFrame& WaylandScreen::newFrame(Size frameSize)
{
    frames.erase(std::remove_if(frames.begin(), frames.end(),
                                [](const std::unique_ptr<ShmFrame>& old) { return old->released; }),
                 frames.end());
    const int stride = frameSize.width * 4;
    auto frame = std::make_unique<ShmFrame>();
    frame->bytes = static_cast<std::size_t>(stride) * static_cast<std::size_t>(frameSize.height);
    const int fd = sharedMemory(frame->bytes);
    frame->pixels = mmap(nullptr, frame->bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (frame->pixels == MAP_FAILED) {
        close(fd);
        throwErrno("mmap of the Wayland buffer");
    }
    wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<std::int32_t>(frame->bytes));
    frame->buffer = wl_shm_pool_create_buffer(pool, 0, frameSize.width, frameSize.height, stride,
                                              WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_buffer_add_listener(frame->buffer, &frameListener(), frame.get());
    frames.push_back(std::move(frame));
    return *frames.back();
}

void WaylandScreen::draw(int x, int y)
{
    if (current.width == 0)
        return;
    ShmFrame& frame = newFrame(current);
    Canvas canvas;
    canvas.pixels = static_cast<std::uint8_t*>(frame.pixels);
    canvas.width = current.width;
    canvas.height = current.height;
    canvas.stride = current.width * 4;
    drawTargetPicture(canvas, x, y);
    wl_surface_attach(surface, frame.buffer, 0, 0);
    wl_surface_damage(surface, 0, 0, current.width, current.height);
    wl_surface_commit(surface);
    checkConnection();
}

void WaylandScreen::beforePoll()
{
    while (wl_display_prepare_read(display) != 0)
        if (wl_display_dispatch_pending(display) < 0)
            checkConnection();
    if (wl_display_flush(display) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display);
        throwErrno("Wayland: lost the compositor");
    }
}

void WaylandScreen::afterPoll(bool readable)
{
    if (readable) {
        if (wl_display_read_events(display) < 0)
            throwErrno("Wayland: lost the compositor");
    } else
        wl_display_cancel_read(display);
    if (wl_display_dispatch_pending(display) < 0)
        checkConnection();
}

void WaylandScreen::checkConnection()
{
    const int error = wl_display_get_error(display);
    if (error != 0) {
        errno = error;
        throwErrno("Wayland: the connection to the compositor failed");
    }
    if (wl_display_flush(display) < 0 && errno != EAGAIN)
        throwErrno("Wayland: lost the compositor");
}

std::unique_ptr<Screen> connectWaylandScreen(const OutputRequest& request)
{
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return nullptr;
    auto screen = std::make_unique<WaylandScreen>(display, request);
    screen->start();
    return screen;
}

}  // namespace quorin::calibrate
