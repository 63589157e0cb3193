#include "calibrate/screen/canvas.h"

#include <algorithm>
#include <cstring>

namespace quorin::calibrate {

namespace {

std::uint32_t channel(std::uint8_t value, int shift, int bits)
{
    return (static_cast<std::uint32_t>(value) >> (8 - bits)) << shift;
}

void putPixel(const Canvas& canvas, int x, int y, std::uint32_t pixel)
{
    std::uint8_t* at = canvas.pixels + static_cast<std::size_t>(y) * canvas.stride +
                       static_cast<std::size_t>(x) * canvas.format.bytesPerPixel;
    if (canvas.format.bytesPerPixel == 4)
        std::memcpy(at, &pixel, 4);
    else {
        const auto narrow = static_cast<std::uint16_t>(pixel);
        std::memcpy(at, &narrow, 2);
    }
}

// The rectangle [left, right) x [top, bottom), clipped to the canvas.
void fillRectangle(const Canvas& canvas, int left, int top, int right, int bottom, Colour colour)
{
    const std::uint32_t pixel = packColour(colour, canvas.format);
    for (int y = std::max(top, 0); y < std::min(bottom, canvas.height); ++y)
        for (int x = std::max(left, 0); x < std::min(right, canvas.width); ++x)
            putPixel(canvas, x, y, pixel);
}

}  // namespace

std::uint32_t packColour(Colour colour, const PixelFormat& format)
{
    return channel(colour.red, format.redShift, format.redBits) |
           channel(colour.green, format.greenShift, format.greenBits) |
           channel(colour.blue, format.blueShift, format.blueBits);
}

void drawTargetPicture(const Canvas& canvas, int x, int y)
{
    const int half = kCrossThickness / 2;
    fillRectangle(canvas, 0, 0, canvas.width, canvas.height, kBackground);
    fillRectangle(canvas, x - kCrossArm, y - half, x + kCrossArm + 1, y + half + 1, kCross);
    fillRectangle(canvas, x - half, y - kCrossArm, x + half + 1, y + kCrossArm + 1, kCross);
    fillRectangle(canvas, x, y, x + 1, y + 1, kCentre);
}

}  // namespace quorin::calibrate
