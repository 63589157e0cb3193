#include "calibrate/x11/x11_screen.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <xcb/xcb.h>

#include "calibrate/environment.h"
#include "calibrate/screen/peer_program.h"
#include "calibrate/system_error.h"
#include "calibrate/x11/randr_outputs.h"
#include "calibrate/x11/x11_setup.h"

namespace quorin::calibrate {

namespace {

constexpr std::uint32_t kEvents =
    XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
// Bytes of an xcb_put_image request before its pixels.
constexpr std::size_t kPutImageHeader = 24;
// openbox may leave a map request it has read unanswered until another
// event comes; a window not mapped by then is asked for again.
constexpr int kMapAgainMs = 1000;

xcb_screen_t* screenNumber(xcb_connection_t* connection, int number)
{
    for (auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection)); roots.rem != 0;
         xcb_screen_next(&roots), --number)
        if (number == 0)
            return roots.data;
    return nullptr;
}

class X11Screen : public ServerWindowScreen {
public:
    X11Screen(xcb_connection_t* connection, xcb_screen_t* screen, std::string asked)
        : connection(connection),
          screen(screen),
          asked(std::move(asked)),
          root{0, 0, screen->width_in_pixels, screen->height_in_pixels}
    {
    }
    ~X11Screen() override;

    void start();
    const char* kind() const override { return "x11"; }
    Size size() const override { return exposed ? current : Size{}; }
    void draw(int x, int y) override;
    int pollFd() const override { return xcb_get_file_descriptor(connection); }
    int pollLimitMs() const override { return managed && !shown ? kMapAgainMs : -1; }
    void beforePoll() override;
    void afterPoll(bool readable) override;
    ScreenFrame frame() const override;

private:
    void placeOnOutput();
    bool followOutput();
    void createWindow();
    void describeWindow();
    void askForPlace();
    void handle(const xcb_generic_event_t& event);
    void configured(const xcb_configure_notify_event_t& event);
    void rootChanged(const xcb_configure_notify_event_t& event);
    void mapped();
    void mapAgainIfMissed();
    void putPicture();
    void checkConnection() const;

    xcb_connection_t* connection;
    xcb_screen_t* screen;
    std::string asked;  // --output
    Rect root;          // the root window, which X spreads a touch over
    Rect area;          // the window's: the chosen output's, else the root's
    OutputPlace place;
    xcb_window_t window = 0;
    xcb_gcontext_t gc = 0;
    xcb_cursor_t cursor = 0;
    xcb_atom_t deleteWindow = 0;
    bool managed = false;  // a window manager places the window
    std::vector<xcb_keycode_t> escapeKeys;
    PixelFormat format;
    std::vector<std::uint8_t> pixels;
    std::string serverName;
    std::uint16_t rotation = 0;
    Size current;
    bool exposed = false;
    bool shown = false;  // mapped, by the window manager where one runs
    std::chrono::steady_clock::time_point mapAsked;
};

X11Screen::~X11Screen()
{
    if (window != 0) {
        xcb_ungrab_keyboard(connection, XCB_CURRENT_TIME);
        xcb_destroy_window(connection, window);
    }
    if (gc != 0)
        xcb_free_gc(connection, gc);
    if (cursor != 0)
        xcb_free_cursor(connection, cursor);
    xcb_flush(connection);
    xcb_disconnect(connection);
}

void X11Screen::start()
{
    serverName = peerProgramName(xcb_get_file_descriptor(connection));
    format = rootPixelFormat(connection, *screen);
    escapeKeys = escapeKeycodes(connection);
    rotation = screenRotation(connection, screen->root);
    managed = windowManagerRuns(connection, screen->root);
    area = root;
    placeOnOutput();
    createWindow();
    describeWindow();
    xcb_map_window(connection, window);
    mapAsked = std::chrono::steady_clock::now();
    checkConnection();
}

// A second MapWindow of a window still unmapped is a second map request;
// of a mapped one, nothing.
void X11Screen::mapAgainIfMissed()
{
    const auto now = std::chrono::steady_clock::now();
    if (!managed || shown || now - mapAsked < std::chrono::milliseconds(kMapAgainMs))
        return;
    xcb_map_window(connection, window);
    mapAsked = now;
}

// Among several outputs, the window covers the one asked for: X spreads
// a touch over the whole root, and the matrix puts the panel onto the
// output's rectangle there. With one output, the root's is the window's.
void X11Screen::placeOnOutput()
{
    std::vector<NamedOutput> named;
    for (const RandrOutput& output : randrOutputs(connection, screen->root))
        named.push_back(output.output);
    const NamedOutput* choice = chooseOutput(named, asked, "", frame().server);
    if (!choice || (named.size() == 1 && asked.empty()))
        return;
    place.name = choice->name;
    place.spread = kX11TouchSpread;
    followOutput();
}

// The chosen output's rectangle and rotation as RandR has them now;
// false once it is gone.
bool X11Screen::followOutput()
{
    const std::vector<RandrOutput> outputs = randrOutputs(connection, screen->root);
    const auto found =
        std::find_if(outputs.begin(), outputs.end(), [this](const RandrOutput& output) {
            return output.output.name == place.name;
        });
    if (found == outputs.end())
        return false;
    area = place.output = found->output.area;
    place.layout = root;
    rotation = found->rotation;
    return true;
}

// At the output's full size from the start, so that going full screen
// does not change the size the targets were placed for.
void X11Screen::createWindow()
{
    current = {area.width, area.height};
    cursor = blankCursor(connection, screen->root);
    window = xcb_generate_id(connection);
    const std::uint32_t values[] = {packColour(kBackground, format), managed ? 0U : 1U, kEvents,
                                    cursor};
    xcb_create_window(
        connection, XCB_COPY_FROM_PARENT, window, screen->root, static_cast<std::int16_t>(area.x),
        static_cast<std::int16_t>(area.y), static_cast<std::uint16_t>(area.width),
        static_cast<std::uint16_t>(area.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
        screen->root_visual,
        XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK | XCB_CW_CURSOR, values);
    gc = xcb_generate_id(connection);
    xcb_create_gc(connection, gc, window, 0, nullptr);
    // The root's changes (a new rotation, a new layout) are followed.
    const std::uint32_t rootEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, screen->root, XCB_CW_EVENT_MASK, &rootEvents);
}

// A window manager puts a full-screen window on the output it stands on:
// the place is asked for as the user's (ICCCM's WM_NORMAL_HINTS).
void X11Screen::askForPlace()
{
    constexpr std::uint32_t kUserPositionAndSize = 1U | 2U;
    constexpr std::size_t kSizeHintsFields = 18;
    std::vector<std::uint32_t> hints(kSizeHintsFields, 0);
    hints[0] = kUserPositionAndSize;
    hints[1] = static_cast<std::uint32_t>(area.x);
    hints[2] = static_cast<std::uint32_t>(area.y);
    hints[3] = static_cast<std::uint32_t>(area.width);
    hints[4] = static_cast<std::uint32_t>(area.height);
    setProperty(connection, window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, hints);
}

void X11Screen::describeWindow()
{
    setText(connection, window, XCB_ATOM_WM_NAME, "Touch panel calibration");
    setText(connection, window, XCB_ATOM_WM_CLASS,
            std::string("quorin-calibrate\0quorin-calibrate\0", 34));
    deleteWindow = internAtom(connection, "WM_DELETE_WINDOW");
    setProperty(connection, window, internAtom(connection, "WM_PROTOCOLS"), XCB_ATOM_ATOM,
                {deleteWindow});
    if (!managed)
        return;
    askForPlace();
    setProperty(connection, window, internAtom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM,
                {internAtom(connection, "_NET_WM_STATE_FULLSCREEN")});
}

ScreenFrame X11Screen::frame() const
{
    ScreenFrame result;
    result.server = serverName.empty() ? "the X server" : serverName;
    result.turn = turnOfRandrRotation(rotation);
    result.frame = MatrixFrame::window;
    result.place = place;
    return result;
}

void X11Screen::draw(int x, int y)
{
    if (!exposed)
        return;
    const int stride = current.width * 4;
    pixels.assign(static_cast<std::size_t>(stride) * static_cast<std::size_t>(current.height), 0);
    Canvas canvas;
    canvas.pixels = pixels.data();
    canvas.width = current.width;
    canvas.height = current.height;
    canvas.stride = stride;
    canvas.format = format;
    drawTargetPicture(canvas, x, y);
    putPicture();
    checkConnection();
}

// In bands of rows, each within the server's largest request.
void X11Screen::putPicture()
{
    const std::size_t stride = static_cast<std::size_t>(current.width) * 4;
    const std::size_t largest =
        static_cast<std::size_t>(xcb_get_maximum_request_length(connection)) * 4;
    const int band =
        static_cast<int>(std::max<std::size_t>(1, (largest - kPutImageHeader) / stride));
    for (int top = 0; top < current.height; top += band) {
        const int rows = std::min(band, current.height - top);
        xcb_put_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, gc,
                      static_cast<std::uint16_t>(current.width), static_cast<std::uint16_t>(rows),
                      0, static_cast<std::int16_t>(top), 0, screen->root_depth,
                      static_cast<std::uint32_t>(stride * static_cast<std::size_t>(rows)),
                      pixels.data() + stride * static_cast<std::size_t>(top));
    }
}

void X11Screen::beforePoll()
{
    if (xcb_flush(connection) <= 0)
        checkConnection();
}

void X11Screen::afterPoll(bool /*readable*/)
{
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
        handle(*event);
        std::free(event);
    }
    mapAgainIfMissed();
    checkConnection();
}

void X11Screen::handle(const xcb_generic_event_t& event)
{
    switch (event.response_type & 0x7fU) {
    case XCB_EXPOSE:
        if (reinterpret_cast<const xcb_expose_event_t&>(event).count == 0)
            exposed = redraw = true;
        break;
    case XCB_CONFIGURE_NOTIFY:
        configured(reinterpret_cast<const xcb_configure_notify_event_t&>(event));
        break;
    case XCB_MAP_NOTIFY:
        mapped();
        break;
    case XCB_KEY_PRESS: {
        const xcb_keycode_t key = reinterpret_cast<const xcb_key_press_event_t&>(event).detail;
        escape = escape || std::find(escapeKeys.begin(), escapeKeys.end(), key) != escapeKeys.end();
        break;
    }
    case XCB_CLIENT_MESSAGE: {
        const auto& message = reinterpret_cast<const xcb_client_message_event_t&>(event);
        isClosed = isClosed || (message.format == 32 && message.data.data32[0] == deleteWindow);
        break;
    }
    default:
        break;
    }
}

// The root was resized (turned, or the layout changed): without a window
// manager the window follows it, or the chosen output, and the targets
// are placed anew; a window manager moves a full-screen window itself.
void X11Screen::rootChanged(const xcb_configure_notify_event_t& event)
{
    root = area = {0, 0, event.width, event.height};
    rotation = screenRotation(connection, screen->root);
    if (!place.name.empty() && !followOutput())
        throw CalibrationFailure("X: the output " + place.name + " went away");
    if (managed)
        return;
    const std::uint32_t values[] = {
        static_cast<std::uint32_t>(area.x), static_cast<std::uint32_t>(area.y),
        static_cast<std::uint32_t>(area.width), static_cast<std::uint32_t>(area.height)};
    xcb_configure_window(connection, window,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         values);
}

void X11Screen::configured(const xcb_configure_notify_event_t& event)
{
    if (event.window == screen->root) {
        rootChanged(event);
        return;
    }
    if (event.window != window || (event.width == current.width && event.height == current.height))
        return;
    current = {event.width, event.height};
    redraw = true;
}

// The keyboard is taken for the run, so that Escape reaches the window
// whoever had the focus; where that is refused, a window manager's focus
// on the new full-screen window serves.
void X11Screen::mapped()
{
    shown = true;
    if (!managed)
        xcb_set_input_focus(connection, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    const xcb_grab_keyboard_cookie_t grab = xcb_grab_keyboard(
        connection, 1, window, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    xcb_discard_reply(connection, grab.sequence);
}

void X11Screen::checkConnection() const
{
    const int error = xcb_connection_has_error(connection);
    if (error != 0)
        throw CalibrationFailure("X: lost the connection to the X server (xcb error " +
                                 std::to_string(error) + ")");
}

}  // namespace

std::unique_ptr<Screen> connectX11Screen(const std::string& asked)
{
    if (environmentValue("DISPLAY").empty())
        return nullptr;
    int number = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &number);
    xcb_screen_t* screen =
        xcb_connection_has_error(connection) != 0 ? nullptr : screenNumber(connection, number);
    if (!screen) {
        xcb_disconnect(connection);
        return nullptr;
    }
    auto x11 = std::make_unique<X11Screen>(connection, screen, asked);
    x11->start();
    return x11;
}

}  // namespace quorin::calibrate
