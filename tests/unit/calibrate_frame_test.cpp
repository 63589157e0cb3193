#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "calibrate/fit/matrix_fit.h"
#include "calibrate/fit/output_frame.h"
#include "calibrate/screen/display_servers.h"
#include "calibrate/screen/output_choice.h"

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
        ScreenFrame wlroots{turn, MatrixFrame::window, "labwc", {}};
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
    const std::string unknown = frameLine({Turn::by90, MatrixFrame::unknown, "gnome-shell", {}});
    EXPECT_NE(unknown.find("if taps land turned"), std::string::npos) << unknown;
    EXPECT_EQ(frameLine({Turn::none, MatrixFrame::unknown, "Xorg", {}}),
              "output not turned by Xorg");
}

// Two layouts of the panel PCs: the 800x480 panel right of a
// 1024x768 monitor, and below it (where a touch spread over the whole box
// is furthest off).
const Rect kPanelRight{1024, 0, 800, 480};
const Rect kPanelBelow{112, 768, 800, 480};

OutputPlace spreadOver(const Rect& panel, const Rect& layout)
{
    OutputPlace place;
    place.name = "Virtual-1";
    place.output = panel;
    place.layout = layout;
    place.spread = TouchSpread::wholeLayout;
    return place;
}

Point applied(const Matrix& m, Point p)
{
    return {m[0] * p.x + m[1] * p.y + m[2], m[3] * p.x + m[4] * p.y + m[5]};
}

// A server that spreads a touch over its layout (wlroots without a tie,
// X) lands a touch at the matrix's result times the box: the installed
// matrix must land the panel's raw positions on the panel's place there.
TEST(OutputFrame, ASpreadingServerTakesTheFitOntoTheOutputsPlaceInTheLayout)
{
    const Matrix mounting{0, -1.0311, 1.031032, 1.030674, 0, -0.030812};  // device -> panel
    for (const auto& [panel, layout] : {std::pair{kPanelRight, Rect{0, 0, 1824, 768}},
                                        std::pair{kPanelBelow, Rect{0, 0, 1024, 1248}}}) {
        std::vector<PointPair> seen;
        for (const Point& window :
             std::vector<Point>{{0.1, 0.1}, {0.9, 0.1}, {0.9, 0.9}, {0.1, 0.9}})
            seen.push_back({deviceFor(mounting, window), window});
        const FitResult fit = fitMatrix(seen);
        ASSERT_TRUE(fit.ok);
        ScreenFrame frame{Turn::none, MatrixFrame::window, "labwc", spreadOver(panel, layout)};
        const Matrix installed = installedMatrix(fit.matrix, frame);
        for (const Point& check : std::vector<Point>{{0.15, 0.2}, {0.9, 0.8}, {0.6, 0.45}}) {
            const Point landed = applied(installed, deviceFor(mounting, check));
            EXPECT_NEAR(landed.x * layout.width, panel.x + check.x * panel.width, 1e-6);
            EXPECT_NEAR(landed.y * layout.height, panel.y + check.y * panel.height, 1e-6);
        }
        frame.place.spread = TouchSpread::oneOutput;
        EXPECT_EQ(installedMatrix(fit.matrix, frame), fit.matrix);
        frame.frame = MatrixFrame::unturnedOutput;
        frame.place.spread = TouchSpread::wholeLayout;
        EXPECT_EQ(installedMatrix(fit.matrix, frame), fit.matrix) << "weston ties to one output";
    }
}

TEST(OutputFrame, EachServerSpreadsATouchOrTiesItToOneOutput)
{
    EXPECT_EQ(waylandTouchSpread("weston", {}, false), TouchSpread::oneOutput);
    EXPECT_EQ(waylandTouchSpread("labwc", {}, false), TouchSpread::wholeLayout);
    EXPECT_EQ(waylandTouchSpread("labwc", {}, true), TouchSpread::oneOutput);
    EXPECT_EQ(waylandTouchSpread("my-kiosk", {"zwlr_output_manager_v1"}, false),
              TouchSpread::wholeLayout);
    EXPECT_EQ(waylandTouchSpread("gnome-shell", {"gtk_shell1"}, false), TouchSpread::unknown);

    // The log says where the output is and which frame follows.
    ScreenFrame frame{Turn::none, MatrixFrame::window, "Xorg",
                      spreadOver(kPanelRight, {0, 0, 1824, 768})};
    EXPECT_EQ(
        layoutLine(frame).rfind("layout Virtual-1 800x480 at 1024,0 of 1824x768: Xorg spreads "
                                "a touch over the whole layout",
                                0),
        0U);
    frame.place.spread = TouchSpread::oneOutput;
    frame.place.tiedBy = "WL_OUTPUT in the rule";
    EXPECT_NE(layoutLine(frame).find(": Xorg ties the touch screen to this output by WL_OUTPUT"),
              std::string::npos);
    frame.place.spread = TouchSpread::unknown;
    EXPECT_NE(layoutLine(frame).find("use the other one below"), std::string::npos);
    frame.place.name.clear();
    EXPECT_EQ(layoutLine(frame), "");
}

const std::vector<NamedOutput> kTwoHeads{{"Virtual-1", kPanelRight},
                                         {"Virtual-2", {0, 0, 1024, 768}}};

TEST(OutputChoice, TheNamedOneElseTheTiedOneElseTheOnlyOne)
{
    EXPECT_EQ(chooseOutput(kTwoHeads, "Virtual-2", "Virtual-1", "labwc"), &kTwoHeads[1]);
    EXPECT_EQ(chooseOutput(kTwoHeads, "", "Virtual-1", "labwc"), &kTwoHeads[0]);
    const std::vector<NamedOutput> one{kTwoHeads[1]};
    EXPECT_EQ(chooseOutput(one, "", "", "weston"), &one[0]);
    EXPECT_EQ(chooseOutput({}, "", "", "gnome-shell"), nullptr);
}

TEST(OutputChoice, SeveralOutputsAndNoNameAreRefusedWithTheList)
{
    const auto refusal = [](const std::vector<NamedOutput>& outputs, const std::string& asked,
                            const std::string& tied) -> std::string {
        try {
            chooseOutput(outputs, asked, tied, "labwc");
        } catch (const OutputNotChosen& refused) {
            return refused.what();
        }
        return "chosen";
    };
    EXPECT_EQ(refusal(kTwoHeads, "", ""),
              "labwc shows 2 outputs and ties the touch screen to none of them, so the targets "
              "would land on any:\n  Virtual-1 800x480 at 1024,0\n  Virtual-2 1024x768 at 0,0\n"
              "name the touch panel's own with --output, for example: quorin-calibrate --output "
              "Virtual-1");
    // An output the server ties to but no longer has leaves the choice open.
    EXPECT_NE(refusal(kTwoHeads, "", "HDMI-A-1").find("shows 2 outputs"), std::string::npos);
    EXPECT_EQ(refusal(kTwoHeads, "DP-1", ""), "labwc has no output named DP-1; it has\n"
                                              "  Virtual-1 800x480 at 1024,0\n"
                                              "  Virtual-2 1024x768 at 0,0");
    EXPECT_EQ(refusal({}, "DP-1", ""), "labwc has no output named DP-1: it names none");
    const std::string connectors = refusal(
        {{"HDMI-A-1", {0, 0, 1920, 1080}, false}, {"DSI-1", {0, 0, 800, 480}, false}}, "", "");
    EXPECT_NE(connectors.find("\n  HDMI-A-1 1920x1080\n  DSI-1 800x480\n"), std::string::npos)
        << connectors;
}

TEST(OutputChoice, TheLayoutsBoxHoldsEveryOutput)
{
    const Rect side = layoutBox(kTwoHeads);
    EXPECT_EQ((std::vector<int>{side.x, side.y, side.width, side.height}),
              (std::vector<int>{0, 0, 1824, 768}));
    const Rect stacked = layoutBox({{"a", {-200, -768, 1024, 768}}, {"b", kPanelBelow}});
    EXPECT_EQ((std::vector<int>{stacked.x, stacked.y, stacked.width, stacked.height}),
              (std::vector<int>{-200, -768, 1112, 2016}));
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
