#include "calibrate/x11/randr_outputs.h"

#include <string>

#include <xcb/randr.h>

#include "calibrate/x11/xcb_reply.h"

namespace quorin::calibrate {

namespace {

// RandR answers a client by the version it says it speaks.
bool speaksRandr13(xcb_connection_t* connection)
{
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(connection, &xcb_randr_id);
    if (!randr || randr->present == 0)
        return false;
    auto version = owned(xcb_randr_query_version_reply(
        connection, xcb_randr_query_version(connection, 1, 3), nullptr));
    return version && (version->major_version > 1 || version->minor_version >= 3);
}

// The output, where it is connected and a CRTC shows it.
void addLit(xcb_connection_t* connection, xcb_randr_output_t id, xcb_timestamp_t timestamp,
            std::vector<RandrOutput>& outputs)
{
    auto info = owned(xcb_randr_get_output_info_reply(
        connection, xcb_randr_get_output_info(connection, id, timestamp), nullptr));
    if (!info || info->connection != XCB_RANDR_CONNECTION_CONNECTED || info->crtc == XCB_NONE)
        return;
    auto crtc = owned(xcb_randr_get_crtc_info_reply(
        connection, xcb_randr_get_crtc_info(connection, info->crtc, timestamp), nullptr));
    if (!crtc || crtc->width == 0 || crtc->height == 0)
        return;
    const std::string name(
        reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get())),
        static_cast<std::size_t>(xcb_randr_get_output_info_name_length(info.get())));
    outputs.push_back({{name, {crtc->x, crtc->y, crtc->width, crtc->height}}, crtc->rotation});
}

}  // namespace

std::vector<RandrOutput> randrOutputs(xcb_connection_t* connection, xcb_window_t root)
{
    std::vector<RandrOutput> outputs;
    if (!speaksRandr13(connection))
        return outputs;
    auto resources = owned(xcb_randr_get_screen_resources_current_reply(
        connection, xcb_randr_get_screen_resources_current(connection, root), nullptr));
    if (!resources)
        return outputs;
    const xcb_randr_output_t* ids = xcb_randr_get_screen_resources_current_outputs(resources.get());
    const int count = xcb_randr_get_screen_resources_current_outputs_length(resources.get());
    for (int i = 0; i < count; ++i)
        addLit(connection, ids[i], resources->config_timestamp, outputs);
    return outputs;
}

}  // namespace quorin::calibrate
