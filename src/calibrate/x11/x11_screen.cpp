#include "calibrate/x11/x11_screen.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <xcb/xcb.h>

#include "calibrate/environment.h"
#include "calibrate/screen/peer_program.h"
#include "calibrate/system_error.h"
#include "calibrate/x11/x11_setup.h"

namespace quorin::calibrate {

namespace {

constexpr std::uint32_t kEvents =
    XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
// Bytes of an xcb_put_image request before its pixels.
constexpr std::size_t kPutImageHeader = 24;

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
    X11Screen(xcb_connection_t* connection, xcb_screen_t* screen)
        : connection(connection),
          screen(screen)
    {
    }
    ~X11Screen() override;

    void start();
    const char* kind() const override { return "x11"; }
    Size size() const override { return exposed ? current : Size{}; }
    void draw(int x, int y) override;
    int pollFd() const override { return xcb_get_file_descriptor(connection); }
    void beforePoll() override;
    void afterPoll(bool readable) override;
    ScreenFrame frame() const override;

private:
    void createWindow();
    void describeWindow();
    void handle(const xcb_generic_event_t& event);
    void configured(const xcb_configure_notify_event_t& event);
    void mapped();
    void putPicture();
    void checkConnection() const;

    xcb_connection_t* connection;
    xcb_screen_t* screen;
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
    createWindow();
    describeWindow();
    xcb_map_window(connection, window);
    checkConnection();
}

// At the root's full size from the start, so that going full screen does
// not change the size the targets were placed for.
void X11Screen::createWindow()
{
    current = {screen->width_in_pixels, screen->height_in_pixels};
    cursor = blankCursor(connection, screen->root);
    window = xcb_generate_id(connection);
    const std::uint32_t values[] = {packColour(kBackground, format), managed ? 0U : 1U, kEvents,
                                    cursor};
    xcb_create_window(
        connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, screen->width_in_pixels,
        screen->height_in_pixels, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
        XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK | XCB_CW_CURSOR, values);
    gc = xcb_generate_id(connection);
    xcb_create_gc(connection, gc, window, 0, nullptr);
    // Without a window manager the root's changes (a new rotation) are
    // this window's to follow.
    if (!managed) {
        const std::uint32_t rootEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection, screen->root, XCB_CW_EVENT_MASK, &rootEvents);
    }
}

void X11Screen::describeWindow()
{
    setText(connection, window, XCB_ATOM_WM_NAME, "Touch panel calibration");
    setText(connection, window, XCB_ATOM_WM_CLASS,
            std::string("quorin-calibrate\0quorin-calibrate\0", 34));
    deleteWindow = internAtom(connection, "WM_DELETE_WINDOW");
    setProperty(connection, window, internAtom(connection, "WM_PROTOCOLS"), XCB_ATOM_ATOM,
                {deleteWindow});
    if (managed)
        setProperty(connection, window, internAtom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM,
                    {internAtom(connection, "_NET_WM_STATE_FULLSCREEN")});
}

ScreenFrame X11Screen::frame() const
{
    ScreenFrame result;
    result.server = serverName.empty() ? "the X server" : serverName;
    result.turn = turnOfRandrRotation(rotation);
    result.frame = MatrixFrame::window;
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

void X11Screen::configured(const xcb_configure_notify_event_t& event)
{
    if (event.window == screen->root) {
        // The root was resized (turned): so is the window, and the
        // targets are placed anew.
        const std::uint32_t size[] = {event.width, event.height};
        xcb_configure_window(connection, window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT,
                             size);
        rotation = screenRotation(connection, screen->root);
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

std::unique_ptr<Screen> connectX11Screen()
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
    auto x11 = std::make_unique<X11Screen>(connection, screen);
    x11->start();
    return x11;
}

}  // namespace quorin::calibrate
