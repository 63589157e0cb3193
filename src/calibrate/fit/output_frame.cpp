#include "calibrate/fit/output_frame.h"

#include <algorithm>
#include <array>

namespace quorin::calibrate {

namespace {

constexpr std::uint16_t kRandrRotate90 = 2;
constexpr std::uint16_t kRandrRotate180 = 4;
constexpr std::uint16_t kRandrRotate270 = 8;
constexpr std::uint16_t kRandrReflectX = 16;
constexpr std::uint16_t kRandrReflectY = 32;

// Compositors built on wlroots, whose libinput matrix lands in the turned
// (layout) frame; most also offer zwlr_* globals, which count as well.
constexpr std::array<const char*, 7> kWlrootsCompositors = {"cage",  "labwc", "sway",  "wayfire",
                                                            "river", "dwl",   "hikari"};

bool startsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

bool anyStartsWith(const std::vector<std::string>& names, const char* prefix)
{
    return std::any_of(names.begin(), names.end(),
                       [prefix](const std::string& name) { return startsWith(name, prefix); });
}

std::string sizeText(const Rect& rect)
{
    return std::to_string(rect.width) + "x" + std::to_string(rect.height);
}

std::string rectText(const Rect& rect)
{
    return sizeText(rect) + " at " + std::to_string(rect.x) + "," + std::to_string(rect.y);
}

Matrix compose(const Matrix& outer, const Matrix& inner)
{
    return {outer[0] * inner[0] + outer[1] * inner[3],
            outer[0] * inner[1] + outer[1] * inner[4],
            outer[0] * inner[2] + outer[1] * inner[5] + outer[2],
            outer[3] * inner[0] + outer[4] * inner[3],
            outer[3] * inner[1] + outer[4] * inner[4],
            outer[3] * inner[2] + outer[4] * inner[5] + outer[5]};
}

// onUnturnedOutput as a matrix of its own: it is affine, so its images of
// the origin and of the two unit points give it.
Matrix unturningMatrix(Turn turn)
{
    const Point origin = onUnturnedOutput({0, 0}, turn);
    const Point alongX = onUnturnedOutput({1, 0}, turn);
    const Point alongY = onUnturnedOutput({0, 1}, turn);
    return {alongX.x - origin.x, alongY.x - origin.x, origin.x,
            alongX.y - origin.y, alongY.y - origin.y, origin.y};
}

}  // namespace

Turn turnOfWaylandTransform(std::int32_t transform)
{
    if (transform < 0 || transform > static_cast<std::int32_t>(Turn::flipped270))
        return Turn::none;
    return static_cast<Turn>(transform);
}

Turn turnOfRandrRotation(std::uint16_t rotation)
{
    int quarters = 0;
    if ((rotation & kRandrRotate90) != 0)
        quarters = 1;
    else if ((rotation & kRandrRotate180) != 0)
        quarters = 2;
    else if ((rotation & kRandrRotate270) != 0)
        quarters = 3;
    const bool flipX = (rotation & kRandrReflectX) != 0;
    const bool flipY = (rotation & kRandrReflectY) != 0;
    // A mirror top to bottom is one left to right, turned by 180 degrees.
    if (flipY)
        quarters += 2;
    const int flipped = flipX != flipY ? 4 : 0;
    return static_cast<Turn>(flipped + quarters % 4);
}

TouchSpread waylandTouchSpread(const std::string& compositor,
                               const std::vector<std::string>& globals, bool tied)
{
    switch (waylandMatrixFrame(compositor, globals)) {
    case MatrixFrame::unturnedOutput:
        return TouchSpread::oneOutput;
    case MatrixFrame::window:
        return tied ? TouchSpread::oneOutput : TouchSpread::wholeLayout;
    case MatrixFrame::unknown:
        break;
    }
    return TouchSpread::unknown;
}

MatrixFrame waylandMatrixFrame(const std::string& compositor,
                               const std::vector<std::string>& globals)
{
    if (compositor == "weston" || anyStartsWith(globals, "weston_"))
        return MatrixFrame::unturnedOutput;
    const bool wlroots =
        std::any_of(kWlrootsCompositors.begin(), kWlrootsCompositors.end(),
                    [&compositor](const char* name) { return compositor == name; });
    if (wlroots || anyStartsWith(globals, "zwlr_"))
        return MatrixFrame::window;
    return MatrixFrame::unknown;
}

// The turns are anticlockwise: turned by 90 degrees, the window's top
// right corner is the output's top left one.
Point onUnturnedOutput(Point window, Turn turn)
{
    const double u = window.x;
    const double v = window.y;
    switch (turn) {
    case Turn::none:
        break;
    case Turn::by90:
        return {v, 1 - u};
    case Turn::by180:
        return {1 - u, 1 - v};
    case Turn::by270:
        return {1 - v, u};
    case Turn::flipped:
        return {1 - u, v};
    case Turn::flipped90:
        return {v, u};
    case Turn::flipped180:
        return {u, 1 - v};
    case Turn::flipped270:
        return {1 - v, 1 - u};
    }
    return {u, v};
}

Matrix matrixOnUnturnedOutput(const Matrix& windowMatrix, Turn turn)
{
    return compose(unturningMatrix(turn), windowMatrix);
}

// The window's fractions onto the layout's: the output's share of the
// box, from its place in it.
Matrix matrixOnLayout(const Matrix& windowMatrix, const OutputPlace& place)
{
    const double width = place.layout.width;
    const double height = place.layout.height;
    const Matrix toLayout{place.output.width / width,
                          0,
                          (place.output.x - place.layout.x) / width,
                          0,
                          place.output.height / height,
                          (place.output.y - place.layout.y) / height};
    return compose(toLayout, windowMatrix);
}

Matrix installedMatrix(const Matrix& windowMatrix, const ScreenFrame& frame)
{
    if (frame.frame == MatrixFrame::unturnedOutput)
        return matrixOnUnturnedOutput(windowMatrix, frame.turn);
    const OutputPlace& place = frame.place;
    if (place.spread == TouchSpread::wholeLayout && place.layout.width > 0 &&
        place.layout.height > 0)
        return matrixOnLayout(windowMatrix, place);
    return windowMatrix;
}

std::string turnName(Turn turn)
{
    static const char* const names[] = {"none",    "90",         "180",         "270",
                                        "flipped", "flipped-90", "flipped-180", "flipped-270"};
    return names[static_cast<int>(turn)];
}

std::string frameLine(const ScreenFrame& frame)
{
    const std::string by = " by " + (frame.server.empty() ? "an unknown server" : frame.server);
    if (frame.turn == Turn::none)
        return "output not turned" + by;
    const std::string turned = "output turned " + turnName(frame.turn) + by;
    switch (frame.frame) {
    case MatrixFrame::window:
        return turned + ": the matrix is given in the window's frame";
    case MatrixFrame::unturnedOutput:
        return turned + ": the matrix is given in the unturned output's frame";
    case MatrixFrame::unknown:
        break;
    }
    return turned + ", not known to apply the matrix before or after the turn: the matrix is "
                    "given in the window's frame; if taps land turned, use the other one below";
}

std::string layoutLine(const ScreenFrame& frame)
{
    const OutputPlace& place = frame.place;
    if (place.name.empty())
        return "";
    const std::string server = frame.server.empty() ? "the display server" : frame.server;
    std::string line = "layout " + place.name + " " + rectText(place.output);
    switch (place.spread) {
    case TouchSpread::wholeLayout:
        return line + " of " + sizeText(place.layout) + ": " + server +
               " spreads a touch over the whole layout; the matrix puts the panel onto this "
               "output there, and holds until the layout changes";
    case TouchSpread::oneOutput:
        return line + ": " + server + " ties the touch screen to this output" +
               (place.tiedBy.empty() ? "" : " by " + place.tiedBy) +
               "; the matrix is given in the output's frame";
    case TouchSpread::unknown:
        break;
    }
    return line + " of " + sizeText(place.layout) + ": " + server +
           " is not known to tie a touch to one output or to spread it over the layout: the "
           "matrix is given in the output's frame; if taps land spread over the layout, use the "
           "other one below";
}

}  // namespace quorin::calibrate
