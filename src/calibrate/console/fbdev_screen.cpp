#include "calibrate/console/fbdev_screen.h"

#include <fcntl.h>
#include <linux/fb.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "calibrate/console/console_mode.h"
#include "calibrate/screen/canvas.h"
#include "calibrate/system_error.h"

namespace quorin::calibrate {

namespace {

PixelFormat formatOf(const fb_var_screeninfo& variable)
{
    PixelFormat format;
    format.bytesPerPixel = static_cast<int>(variable.bits_per_pixel / 8);
    format.redShift = static_cast<int>(variable.red.offset);
    format.redBits = static_cast<int>(variable.red.length);
    format.greenShift = static_cast<int>(variable.green.offset);
    format.greenBits = static_cast<int>(variable.green.length);
    format.blueShift = static_cast<int>(variable.blue.offset);
    format.blueBits = static_cast<int>(variable.blue.length);
    return format;
}

bool drawable(const fb_var_screeninfo& variable)
{
    const bool depth = variable.bits_per_pixel == 16 || variable.bits_per_pixel == 32;
    return depth && variable.red.length <= 8 && variable.green.length <= 8 &&
           variable.blue.length <= 8 && variable.red.length > 0;
}

class FbdevScreen : public Screen {
public:
    explicit FbdevScreen(int fd) : fd(fd) {}
    ~FbdevScreen() override;

    void start(const std::string& path);
    const char* kind() const override { return "fbdev"; }
    Size size() const override { return {canvas.width, canvas.height}; }
    void draw(int x, int y) override { drawTargetPicture(canvas, x, y); }

private:
    ConsoleGraphicsMode console;
    int fd;
    void* mapping = MAP_FAILED;
    std::size_t bytes = 0;
    Canvas canvas;
};

FbdevScreen::~FbdevScreen()
{
    if (mapping != MAP_FAILED)
        munmap(mapping, bytes);
    close(fd);
}

void FbdevScreen::start(const std::string& path)
{
    fb_var_screeninfo variable{};
    fb_fix_screeninfo fixed{};
    checked(ioctl(fd, FBIOGET_VSCREENINFO, &variable), "FBIOGET_VSCREENINFO on " + path);
    checked(ioctl(fd, FBIOGET_FSCREENINFO, &fixed), "FBIOGET_FSCREENINFO on " + path);
    if (!drawable(variable) || fixed.type != FB_TYPE_PACKED_PIXELS)
        throw CalibrationFailure(path + ": only packed 16 and 32-bit true-colour pixels are drawn");
    bytes = fixed.smem_len;
    mapping = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapping == MAP_FAILED)
        throwErrno("mmap of " + path);
    canvas.format = formatOf(variable);
    canvas.width = static_cast<int>(variable.xres);
    canvas.height = static_cast<int>(variable.yres);
    canvas.stride = static_cast<int>(fixed.line_length);
    canvas.pixels = static_cast<std::uint8_t*>(mapping) +
                    static_cast<std::size_t>(variable.yoffset) * fixed.line_length +
                    static_cast<std::size_t>(variable.xoffset) * variable.bits_per_pixel / 8;
}

}  // namespace

std::unique_ptr<Screen> openFbdevScreen(const std::string& path)
{
    const int fd = checked(open(path.c_str(), O_RDWR | O_CLOEXEC), "cannot open " + path);
    auto screen = std::make_unique<FbdevScreen>(fd);
    screen->start(path);
    return screen;
}

}  // namespace quorin::calibrate
