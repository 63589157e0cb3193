#include "calibrate/x11/x11_setup.h"

#include <cstring>

#include <xcb/randr.h>

#include "calibrate/system_error.h"
#include "calibrate/x11/xcb_reply.h"

namespace quorin::calibrate {

namespace {

constexpr std::uint32_t kEscapeKeysym = 0xff1b;
constexpr int kTrueColour = XCB_VISUAL_CLASS_TRUE_COLOR;

// The window a window's _NET_SUPPORTING_WM_CHECK names, or none.
xcb_window_t checkWindowOf(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t check)
{
    auto reply = owned(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, check, XCB_ATOM_WINDOW, 0, 1),
        nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4)
        return XCB_WINDOW_NONE;
    xcb_window_t named = XCB_WINDOW_NONE;
    std::memcpy(&named, xcb_get_property_value(reply.get()), sizeof named);
    return named;
}

int lowestBit(std::uint32_t mask)
{
    int shift = 0;
    while (mask != 0 && (mask & 1U) == 0) {
        mask >>= 1U;
        ++shift;
    }
    return shift;
}

int bitCount(std::uint32_t mask)
{
    int count = 0;
    for (; mask != 0; mask &= mask - 1)
        ++count;
    return count;
}

const xcb_visualtype_t* rootVisual(const xcb_screen_t& screen)
{
    for (auto depths = xcb_screen_allowed_depths_iterator(&screen); depths.rem != 0;
         xcb_depth_next(&depths))
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem != 0;
             xcb_visualtype_next(&visuals))
            if (visuals.data->visual_id == screen.root_visual)
                return visuals.data;
    return nullptr;
}

int bitsPerPixelOf(xcb_connection_t* connection, std::uint8_t depth)
{
    const xcb_setup_t* setup = xcb_get_setup(connection);
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem != 0;
         xcb_format_next(&formats))
        if (formats.data->depth == depth)
            return formats.data->bits_per_pixel;
    return 0;
}

bool littleEndian()
{
    const std::uint16_t probe = 1;
    std::uint8_t first = 0;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

}  // namespace

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    auto reply = owned(xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name),
        nullptr));
    if (!reply)
        throw CalibrationFailure(std::string("X: cannot intern the atom ") + name);
    return reply->atom;
}

bool windowManagerRuns(xcb_connection_t* connection, xcb_window_t root)
{
    const xcb_atom_t check = internAtom(connection, "_NET_SUPPORTING_WM_CHECK");
    const xcb_window_t named = checkWindowOf(connection, root, check);
    return named != XCB_WINDOW_NONE && checkWindowOf(connection, named, check) == named;
}

std::vector<xcb_keycode_t> escapeKeycodes(xcb_connection_t* connection)
{
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    auto reply = owned(xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, count), nullptr));
    std::vector<xcb_keycode_t> codes;
    if (!reply || reply->keysyms_per_keycode == 0)
        return codes;
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(reply.get());
    const int total = xcb_get_keyboard_mapping_keysyms_length(reply.get());
    for (int i = 0; i < total; ++i)
        if (keysyms[i] == kEscapeKeysym)
            codes.push_back(
                static_cast<xcb_keycode_t>(setup->min_keycode + i / reply->keysyms_per_keycode));
    return codes;
}

PixelFormat rootPixelFormat(xcb_connection_t* connection, const xcb_screen_t& screen)
{
    const xcb_visualtype_t* visual = rootVisual(screen);
    const bool sameOrder = (xcb_get_setup(connection)->image_byte_order ==
                            XCB_IMAGE_ORDER_LSB_FIRST) == littleEndian();
    if (!visual || visual->_class != kTrueColour ||
        bitsPerPixelOf(connection, screen.root_depth) != 32 || !sameOrder)
        throw CalibrationFailure("X: only a 32-bit true-colour root window in this machine's "
                                 "byte order is drawn on");
    PixelFormat format;
    format.redShift = lowestBit(visual->red_mask);
    format.redBits = bitCount(visual->red_mask);
    format.greenShift = lowestBit(visual->green_mask);
    format.greenBits = bitCount(visual->green_mask);
    format.blueShift = lowestBit(visual->blue_mask);
    format.blueBits = bitCount(visual->blue_mask);
    return format;
}

std::uint16_t screenRotation(xcb_connection_t* connection, xcb_window_t root)
{
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(connection, &xcb_randr_id);
    if (!randr || randr->present == 0)
        return 0;
    auto reply = owned(xcb_randr_get_screen_info_reply(
        connection, xcb_randr_get_screen_info(connection, root), nullptr));
    return reply ? reply->rotation : 0;
}

xcb_cursor_t blankCursor(xcb_connection_t* connection, xcb_window_t root)
{
    const xcb_pixmap_t pixmap = xcb_generate_id(connection);
    xcb_create_pixmap(connection, 1, pixmap, root, 1, 1);
    // A new pixmap's content is undefined: its one pixel is cleared.
    const xcb_gcontext_t clear = xcb_generate_id(connection);
    const std::uint32_t black = 0;
    xcb_create_gc(connection, clear, pixmap, XCB_GC_FOREGROUND, &black);
    const xcb_rectangle_t pixel{0, 0, 1, 1};
    xcb_poly_fill_rectangle(connection, pixmap, clear, 1, &pixel);
    xcb_free_gc(connection, clear);
    const xcb_cursor_t cursor = xcb_generate_id(connection);
    // With the mask's one pixel clear, nothing of the cursor shows.
    xcb_create_cursor(connection, cursor, pixmap, pixmap, 0, 0, 0, 0, 0, 0, 0, 0);
    xcb_free_pixmap(connection, pixmap);
    return cursor;
}

void setProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                 xcb_atom_t type, const std::vector<std::uint32_t>& values)
{
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, property, type, 32,
                        static_cast<std::uint32_t>(values.size()), values.data());
}

void setText(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
             const std::string& text)
{
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, property, XCB_ATOM_STRING, 8,
                        static_cast<std::uint32_t>(text.size()), text.data());
}

}  // namespace quorin::calibrate
