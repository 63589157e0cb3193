#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calibrate/fit/matrix_fit.h"
#include "calibrate/fit/output_frame.h"
#include "calibrate/screen/display_servers.h"

namespace quorin::calibrate {
namespace {

constexpr Turn kTurns[] = {Turn::none,    Turn::by90,      Turn::by180,      Turn::by270,
                           Turn::flipped, Turn::flipped90, Turn::flipped180, Turn::flipped270};

// The device point that a mounting (device -> unturned output, affine)
// maps onto `output`.
Point deviceFor(const Matrix& mounting, Point output)
{
    const double det = mounting[0] * mounting[4] - mounting[1] * mounting[3];
    const double x = output.x - mounting[2];
    const double y = output.y - mounting[5];
    return {(mounting[4] * x - mounting[1] * y) / det, (mounting[0] * y - mounting[3] * x) / det};
}

// weston's path, played back: the program fits what a turned window
// sees; the installed matrix must be the mounting itself, since weston
// applies it on the unturned output and only then turns the result.
TEST(OutputFrame, TheWindowsFitTurnedBackIsTheMountingOnTheUnturnedOutput)
{
    const Matrix mounting{0, -1.0309, 1.0309, 1.0309, 0, -0.0309};
    const std::vector<Point> windowCorners{{0.1, 0.1}, {0.9, 0.1}, {0.9, 0.9}, {0.1, 0.9}};
    for (const Turn turn : kTurns) {
        std::vector<PointPair> seen;
        for (const Point& window : windowCorners)
            seen.push_back({deviceFor(mounting, onUnturnedOutput(window, turn)), window});
        const FitResult fit = fitMatrix(seen);
        ASSERT_TRUE(fit.ok) << turnName(turn);
        const Matrix installed = matrixOnUnturnedOutput(fit.matrix, turn);
        for (std::size_t i = 0; i < installed.size(); ++i)
            EXPECT_NEAR(installed[i], mounting[i], 1e-9) << turnName(turn) << " element " << i;
        ScreenFrame wlroots{turn, MatrixFrame::window, "labwc"};
        EXPECT_EQ(installedMatrix(fit.matrix, wlroots), fit.matrix);
    }
}

// The turns are wl_output's: anticlockwise, a flip mirrors left to right
// before turning.
TEST(OutputFrame, TurnsAreAnticlockwiseAsWaylandsTransforms)
{
    const struct {
        Turn turn;
        Point topLeft;
        Point topRight;
    } cases[] = {
        {Turn::none, {0, 0}, {1, 0}},       {Turn::by90, {0, 1}, {0, 0}},
        {Turn::by180, {1, 1}, {0, 1}},      {Turn::by270, {1, 0}, {1, 1}},
        {Turn::flipped, {1, 0}, {0, 0}},    {Turn::flipped90, {0, 0}, {0, 1}},
        {Turn::flipped180, {0, 1}, {1, 1}}, {Turn::flipped270, {1, 1}, {1, 0}},
    };
    for (const auto& c : cases) {
        const Point left = onUnturnedOutput({0, 0}, c.turn);
        const Point right = onUnturnedOutput({1, 0}, c.turn);
        EXPECT_EQ(left.x, c.topLeft.x) << turnName(c.turn);
        EXPECT_EQ(left.y, c.topLeft.y) << turnName(c.turn);
        EXPECT_EQ(right.x, c.topRight.x) << turnName(c.turn);
        EXPECT_EQ(right.y, c.topRight.y) << turnName(c.turn);
    }
    EXPECT_EQ(turnOfWaylandTransform(1), Turn::by90);
    EXPECT_EQ(turnOfWaylandTransform(8), Turn::none);
    EXPECT_EQ(turnOfWaylandTransform(-1), Turn::none);
    EXPECT_EQ(turnOfRandrRotation(1), Turn::none);
    EXPECT_EQ(turnOfRandrRotation(2), Turn::by90);  // xrandr --rotate left
    EXPECT_EQ(turnOfRandrRotation(8), Turn::by270);
    EXPECT_EQ(turnOfRandrRotation(1 | 16), Turn::flipped);
    EXPECT_EQ(turnOfRandrRotation(1 | 32), Turn::flipped180);
    EXPECT_EQ(turnOfRandrRotation(1 | 16 | 32), Turn::by180);
}

TEST(OutputFrame, EachCompositorsFrameByNameOrByItsGlobals)
{
    EXPECT_EQ(waylandMatrixFrame("weston", {}), MatrixFrame::unturnedOutput);
    EXPECT_EQ(waylandMatrixFrame("", {"wl_shm", "weston_capture_v1"}), MatrixFrame::unturnedOutput);
    EXPECT_EQ(waylandMatrixFrame("labwc", {}), MatrixFrame::window);
    EXPECT_EQ(waylandMatrixFrame("cage", {}), MatrixFrame::window);
    EXPECT_EQ(waylandMatrixFrame("my-kiosk", {"zwlr_layer_shell_v1"}), MatrixFrame::window);
    EXPECT_EQ(waylandMatrixFrame("gnome-shell", {"wl_shm", "gtk_shell1"}), MatrixFrame::unknown);
    const std::string unknown = frameLine({Turn::by90, MatrixFrame::unknown, "gnome-shell"});
    EXPECT_NE(unknown.find("if taps land turned"), std::string::npos) << unknown;
    EXPECT_EQ(frameLine({Turn::none, MatrixFrame::unknown, "Xorg"}), "output not turned by Xorg");
}

const char* const kProcNetUnix =
    "Num       RefCount Protocol Flags    Type St Inode Path\n"
    "0000000000000000: 00000002 00000000 00010000 0001 01 20871 /tmp/.X11-unix/X0\n"
    "0000000000000000: 00000002 00000000 00010000 0001 01 20870 @/tmp/.X11-unix/X0\n"
    "0000000000000000: 00000003 00000000 00000000 0001 03 20990 /tmp/.X11-unix/X0\n"
    "0000000000000000: 00000002 00000000 00010000 0001 01 31002 /run/user/1000/wayland-1\n"
    "0000000000000000: 00000002 00000000 00010000 0001 01 31003 /run/user/1000/pipewire-0\n"
    "0000000000000000: 00000002 00000000 00010000 0001 01 31004 /run/kiosk/wayland-1x\n"
    "0000000000000000: 00000002 00000000 00010000 0001 01 31005 /tmp/.X11-unix/Xa\n"
    "0000000000000000: 00000002 00000000 00010000 0005 01 13201\n"
    "0000000000000000: 00000003 00000000 00000000 0001 03 13202 /run/systemd/journal/stdout\n";

TEST(DisplayServers, FoundOnceEachByTheirListeningSockets)
{
    const std::vector<std::string> listening = listeningSocketPaths(kProcNetUnix);
    EXPECT_EQ(listening.size(), 6U);
    const std::vector<DisplayServer> servers = displayServersIn(listening);
    ASSERT_EQ(servers.size(), 2U);
    EXPECT_EQ(servers[0].kind, DisplayServer::Kind::x11);
    EXPECT_EQ(servers[0].display, ":0");
    EXPECT_EQ(servers[0].socketPath, "/tmp/.X11-unix/X0");
    EXPECT_EQ(servers[1].kind, DisplayServer::Kind::wayland);
    EXPECT_EQ(reachingEnvironment(servers[1]),
              "WAYLAND_DISPLAY=wayland-1 XDG_RUNTIME_DIR=/run/user/1000");
}

TEST(DisplayServers, TheRefusalSaysHowToReachEachServer)
{
    DisplayServer x11;
    x11.display = ":0";
    x11.program = "Xorg";
    x11.user = "kiosk";
    DisplayServer labwc = *displayServerAt("/run/kiosk/wayland-0");
    labwc.program = "labwc";
    const std::string text =
        heldScreenMessage("the DRM device /dev/dri/card0 has another master", {x11, labwc});
    EXPECT_NE(text.find("(the DRM device /dev/dri/card0 has another master)"), std::string::npos);
    EXPECT_NE(text.find("Xorg, an X server on display :0: run quorin-calibrate in its session, "
                        "as kiosk, with DISPLAY=:0"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("labwc, a Wayland compositor at /run/kiosk/wayland-0: run quorin-calibrate "
                        "in its session with WAYLAND_DISPLAY=wayland-0 XDG_RUNTIME_DIR=/run/kiosk"),
              std::string::npos)
        << text;
    EXPECT_NE(heldScreenMessage("the console is in graphics mode", {}).find("or stop it"),
              std::string::npos);
}

TEST(DisplayServers, AClientsEnvironmentNamesItsDisplay)
{
    using namespace std::string_literals;
    EXPECT_TRUE(environmentNamesDisplay("HOME=/home/kiosk\0DISPLAY=:0\0"s, ":0"));
    EXPECT_TRUE(environmentNamesDisplay("DISPLAY=:0.0"s, ":0"));
    EXPECT_FALSE(environmentNamesDisplay("DISPLAY=:01\0"s, ":0"));
    EXPECT_FALSE(environmentNamesDisplay("XDISPLAY=:0\0"s, ":0"));
    EXPECT_FALSE(environmentNamesDisplay(""s, ":0"));
}

}  // namespace
}  // namespace quorin::calibrate
