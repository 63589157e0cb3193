#include "calibrate/console/drm_screen.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <drm.h>
#include <drm_mode.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include "calibrate/console/console_mode.h"
#include "calibrate/screen/canvas.h"
#include "calibrate/screen/output_choice.h"
#include "calibrate/system_error.h"

namespace quorin::calibrate {

namespace {

constexpr int kMaxCards = 16;
constexpr std::uint32_t kDepth = 24;
constexpr std::uint32_t kBitsPerPixel = 32;

// The screen to light: a connected connector, its mode and a CRTC for it.
struct Output {
    std::uint32_t connector = 0;
    std::uint32_t crtc = 0;
    drmModeModeInfo mode{};
    std::string name;  // as the kernel and display servers name it: "HDMI-A-1"
};

std::string connectorName(const drmModeConnector& connector)
{
    const char* type = drmModeGetConnectorTypeName(connector.connector_type);
    return std::string(type ? type : "Unknown") + "-" + std::to_string(connector.connector_type_id);
}

drmModeModeInfo preferredMode(const drmModeConnector& connector)
{
    for (int i = 0; i < connector.count_modes; ++i)
        if ((connector.modes[i].type & DRM_MODE_TYPE_PREFERRED) != 0)
            return connector.modes[i];
    return connector.modes[0];
}

// The CRTC driving the connector now, else the first its encoders can use.
std::uint32_t crtcFor(int fd, const drmModeRes& resources, const drmModeConnector& connector)
{
    if (drmModeEncoder* encoder = drmModeGetEncoder(fd, connector.encoder_id)) {
        const std::uint32_t crtc = encoder->crtc_id;
        drmModeFreeEncoder(encoder);
        if (crtc != 0)
            return crtc;
    }
    for (int e = 0; e < connector.count_encoders; ++e) {
        drmModeEncoder* encoder = drmModeGetEncoder(fd, connector.encoders[e]);
        if (!encoder)
            continue;
        const std::uint32_t possible = encoder->possible_crtcs;
        drmModeFreeEncoder(encoder);
        for (int c = 0; c < resources.count_crtcs && c < 32; ++c)
            if ((possible & (1U << static_cast<unsigned>(c))) != 0)
                return resources.crtcs[c];
    }
    return 0;
}

std::optional<Output> outputOf(int fd, const drmModeRes& resources, std::uint32_t id)
{
    drmModeConnector* connector = drmModeGetConnector(fd, id);
    if (!connector)
        return std::nullopt;
    std::optional<Output> output;
    if (connector->connection == DRM_MODE_CONNECTED && connector->count_modes > 0) {
        const std::uint32_t crtc = crtcFor(fd, resources, *connector);
        if (crtc != 0)
            output = Output{id, crtc, preferredMode(*connector), connectorName(*connector)};
    }
    drmModeFreeConnector(connector);
    return output;
}

std::vector<Output> connectedOutputs(int fd)
{
    drmModeRes* resources = drmModeGetResources(fd);
    if (!resources)
        return {};
    std::vector<Output> outputs;
    for (int i = 0; i < resources->count_connectors; ++i)
        if (std::optional<Output> output = outputOf(fd, *resources, resources->connectors[i]))
            outputs.push_back(*output);
    drmModeFreeResources(resources);
    return outputs;
}

// The one connected screen, or the one asked for by name.
Output chosenOutput(const std::vector<Output>& outputs, const std::string& asked,
                    const std::string& path)
{
    std::vector<NamedOutput> named;
    named.reserve(outputs.size());
    for (const Output& output : outputs)
        named.push_back({output.name, {0, 0, output.mode.hdisplay, output.mode.vdisplay}, false});
    const NamedOutput* choice = chooseOutput(named, asked, "", "the DRM card " + path);
    return outputs[static_cast<std::size_t>(choice - named.data())];
}

bool hasOutput(const std::vector<Output>& outputs, const std::string& asked)
{
    return asked.empty()
               ? !outputs.empty()
               : std::any_of(outputs.begin(), outputs.end(),
                             [&asked](const Output& output) { return output.name == asked; });
}

class DrmScreen : public Screen {
public:
    DrmScreen(int fd, Output output) : fd(fd), output(std::move(output)) {}
    ~DrmScreen() override;

    void start();
    const char* kind() const override { return "drm"; }
    Size size() const override { return {output.mode.hdisplay, output.mode.vdisplay}; }
    void draw(int x, int y) override;

private:
    void createBuffer();
    void mapBuffer();

    ConsoleGraphicsMode console;
    int fd;
    Output output;
    drmModeCrtc* saved = nullptr;
    std::uint32_t handle = 0;
    std::uint32_t pitch = 0;
    std::uint64_t bytes = 0;
    std::uint32_t framebuffer = 0;
    void* pixels = MAP_FAILED;
};

DrmScreen::~DrmScreen()
{
    if (saved) {
        std::uint32_t connector = output.connector;
        if (saved->mode_valid != 0)
            drmModeSetCrtc(fd, saved->crtc_id, saved->buffer_id, saved->x, saved->y, &connector, 1,
                           &saved->mode);
        drmModeFreeCrtc(saved);
    }
    if (pixels != MAP_FAILED)
        munmap(pixels, bytes);
    if (framebuffer != 0)
        drmModeRmFB(fd, framebuffer);
    if (handle != 0) {
        drm_mode_destroy_dumb destroy{};
        destroy.handle = handle;
        drmIoctl(fd, DRM_IOCTL_MODE_DESTROY_DUMB, &destroy);
    }
    close(fd);
}

void DrmScreen::createBuffer()
{
    drm_mode_create_dumb create{};
    create.width = output.mode.hdisplay;
    create.height = output.mode.vdisplay;
    create.bpp = kBitsPerPixel;
    checked(drmIoctl(fd, DRM_IOCTL_MODE_CREATE_DUMB, &create), "DRM: creating a dumb buffer");
    handle = create.handle;
    pitch = create.pitch;
    bytes = create.size;
    checked(drmModeAddFB(fd, create.width, create.height, kDepth, kBitsPerPixel, pitch, handle,
                         &framebuffer),
            "DRM: adding the framebuffer");
}

void DrmScreen::mapBuffer()
{
    drm_mode_map_dumb map{};
    map.handle = handle;
    checked(drmIoctl(fd, DRM_IOCTL_MODE_MAP_DUMB, &map), "DRM: mapping the dumb buffer");
    pixels = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                  static_cast<off_t>(map.offset));
    if (pixels == MAP_FAILED)
        throwErrno("DRM: mmap of the dumb buffer");
}

void DrmScreen::start()
{
    createBuffer();
    mapBuffer();
    saved = drmModeGetCrtc(fd, output.crtc);
    std::uint32_t connector = output.connector;
    checked(drmModeSetCrtc(fd, output.crtc, framebuffer, 0, 0, &connector, 1, &output.mode),
            "DRM: setting the mode (is another program the display's master?)");
}

void DrmScreen::draw(int x, int y)
{
    Canvas canvas;
    canvas.pixels = static_cast<std::uint8_t*>(pixels);
    canvas.width = output.mode.hdisplay;
    canvas.height = output.mode.vdisplay;
    canvas.stride = static_cast<int>(pitch);
    drawTargetPicture(canvas, x, y);
    const int result = drmModeDirtyFB(fd, framebuffer, nullptr, 0);
    // Drivers that scan the buffer out as it is have no dirty call.
    if (result < 0 && result != -ENOSYS) {
        errno = -result;
        throwErrno("DRM: DIRTYFB");
    }
}

int openCard(const std::string& path)
{
    return checked(open(path.c_str(), O_RDWR | O_CLOEXEC), "cannot open " + path);
}

std::unique_ptr<Screen> screenOn(int fd, const std::string& path, const std::string& asked)
{
    const std::vector<Output> outputs = connectedOutputs(fd);
    if (outputs.empty()) {
        close(fd);
        throw CalibrationFailure("DRM: " + path + " has no connected screen");
    }
    std::unique_ptr<DrmScreen> screen;
    try {
        screen = std::make_unique<DrmScreen>(fd, chosenOutput(outputs, asked, path));
    } catch (...) {
        close(fd);
        throw;
    }
    screen->start();
    return screen;
}

}  // namespace

std::unique_ptr<Screen> openDrmScreen(const std::string& path, const std::string& asked)
{
    if (!path.empty())
        return screenOn(openCard(path), path, asked);
    for (int card = 0; card < kMaxCards; ++card) {
        const std::string candidate = "/dev/dri/card" + std::to_string(card);
        const int fd = open(candidate.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (hasOutput(connectedOutputs(fd), asked))
            return screenOn(fd, candidate, asked);
        close(fd);
    }
    if (!asked.empty())
        throw OutputNotChosen("DRM: no /dev/dri/card* that could be opened has a connected "
                              "screen named " +
                              asked);
    throw CalibrationFailure("DRM: no /dev/dri/card* with a connected screen could be opened");
}

}  // namespace quorin::calibrate
