#pragma once

#include <cstdint>

namespace quorin::calibrate {

// Where each 8-bit colour channel goes in a pixel of 2 or 4 bytes, in the
// machine's byte order: the framebuffer's bit fields, or XRGB8888.
struct PixelFormat {
    int bytesPerPixel = 4;
    int redShift = 16;
    int redBits = 8;
    int greenShift = 8;
    int greenBits = 8;
    int blueShift = 0;
    int blueBits = 8;
};

struct Canvas {
    std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;  // bytes from one row to the next
    PixelFormat format;
};

struct Colour {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
};

// The picture a harness finds on a screenshot: a plain background, and a
// white cross whose arms reach kCrossArm pixels from the target's pixel in
// each direction, kCrossThickness wide and centred on it, with that one
// pixel red.
constexpr Colour kBackground{0x20, 0x20, 0x60};
constexpr Colour kCross{0xff, 0xff, 0xff};
constexpr Colour kCentre{0xff, 0x00, 0x00};
constexpr int kCrossArm = 24;
constexpr int kCrossThickness = 3;

void drawTargetPicture(const Canvas& canvas, int x, int y);

std::uint32_t packColour(Colour colour, const PixelFormat& format);

}  // namespace quorin::calibrate
