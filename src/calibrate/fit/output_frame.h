#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "calibrate/fit/geometry.h"

namespace quorin::calibrate {

// How a display server turns the picture of the window onto the output,
// in wl_output's terms: anticlockwise, the flipped ones mirrored left to
// right first. The values are wl_output's transform enum.
enum class Turn : std::uint8_t {
    none = 0,
    by90 = 1,
    by180 = 2,
    by270 = 3,
    flipped = 4,
    flipped90 = 5,
    flipped180 = 6,
    flipped270 = 7,
};

// Where the display server looks a touch up after libinput's matrix has
// mapped it. wlroots compositors (cage, labwc, sway...) and X (the root
// window's frame, which RandR turns with the output) take the result as a
// position in the turned picture the window sees: the fit is used as it
// is. weston takes it as a position on the unturned output and turns it
// itself: the fit is turned back first.
enum class MatrixFrame : std::uint8_t { window, unturnedOutput, unknown };

// Where the display server puts a touch once the matrix has mapped it:
// spread over the box of its whole layout, or onto the one output it ties
// the device to. Which one each server does is told by waylandTouchSpread
// and kX11TouchSpread.
enum class TouchSpread : std::uint8_t { wholeLayout, oneOutput, unknown };

// The window's output among several: its place in the server's layout,
// and how the server brings a touch there.
struct OutputPlace {
    std::string name;  // empty where the server has a single output
    Rect output;
    Rect layout;  // the box of every output (under X the root window)
    TouchSpread spread = TouchSpread::oneOutput;
    std::string tiedBy;       // what ties the device to the output, as the log says it
    bool tiedByRule = false;  // the rule must tie it: WL_OUTPUT, which weston reads
};

struct ScreenFrame {
    Turn turn = Turn::none;
    MatrixFrame frame = MatrixFrame::window;
    std::string server;  // who draws the window: "weston", "Xorg", ...
    OutputPlace place;
};

// Xorg's libinput driver maps an absolute device onto the whole root
// window, which holds every output; its Coordinate Transformation Matrix,
// the one way to tie it to an output, lives in X's device only, and the
// device the installation makes anew has the identity again.
constexpr TouchSpread kX11TouchSpread = TouchSpread::wholeLayout;

// weston ties every touch device to one output: the one its udev property
// WL_OUTPUT names, else its first. wlroots compositors spread a touch
// over the whole layout unless their configuration maps the device to an
// output (`tied`: labwc's rc.xml). Others are not known.
TouchSpread waylandTouchSpread(const std::string& compositor,
                               const std::vector<std::string>& globals, bool tied);

// A wl_output transform value; an unknown one counts as no turn.
Turn turnOfWaylandTransform(std::int32_t transform);
// RandR's rotation bits (RR_Rotate_*, RR_Reflect_*), reduced to a turn:
// RandR also turns anticlockwise; its X reflection is the flip.
Turn turnOfRandrRotation(std::uint16_t rotation);

// By the compositor's program name and the globals it offers.
MatrixFrame waylandMatrixFrame(const std::string& compositor,
                               const std::vector<std::string>& globals);

// Where a point of the window, as fractions of it, is on the output's
// unturned picture, as fractions of that.
Point onUnturnedOutput(Point window, Turn turn);

// The matrix that lands on the unturned output where `windowMatrix` lands
// in the window: the frame weston applies its matrix in.
Matrix matrixOnUnturnedOutput(const Matrix& windowMatrix, Turn turn);

// The matrix that lands in the layout's box where `windowMatrix` lands in
// the window on the output placed so: the frame of a server that spreads
// a touch over its whole layout.
Matrix matrixOnLayout(const Matrix& windowMatrix, const OutputPlace& place);

// The matrix to install for this screen.
Matrix installedMatrix(const Matrix& windowMatrix, const ScreenFrame& frame);

// "none", "90", "flipped-270", ...
std::string turnName(Turn turn);

// The log's line on the output's turn and the frame of the matrix, e.g.
//   output turned 90 by weston: the matrix is given in the unturned output's frame
std::string frameLine(const ScreenFrame& frame);

// The log's line on the output among several and the frame of the matrix
// that follows from it, e.g.
//   layout Virtual-1 800x480 at 1024,0 of 1824x768: labwc spreads a touch over the whole layout ...
// Empty where the server has a single output.
std::string layoutLine(const ScreenFrame& frame);

}  // namespace quorin::calibrate
