#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "calibrate/calibration_report.h"
#include "calibrate/fit/calibration_session.h"
#include "calibrate/screen/canvas.h"

namespace quorin::calibrate {
namespace {

constexpr AxisRange kAxis{0, 4095};
constexpr Size kPanel{800, 480};

input_event event(int type, int code, int value)
{
    input_event e{};
    e.type = static_cast<std::uint16_t>(type);
    e.code = static_cast<std::uint16_t>(code);
    e.value = value;
    return e;
}

// A touch as the daemon writes it: down with its first position, more
// reports, then up; each report ended by SYN_REPORT.
std::vector<input_event> touchEvents(const std::vector<Point>& samples)
{
    std::vector<input_event> events;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        events.push_back(event(EV_ABS, ABS_X, static_cast<int>(samples[i].x)));
        events.push_back(event(EV_ABS, ABS_Y, static_cast<int>(samples[i].y)));
        if (i == 0)
            events.push_back(event(EV_KEY, BTN_TOUCH, 1));
        events.push_back(event(EV_SYN, SYN_REPORT, 0));
    }
    events.push_back(event(EV_ABS, ABS_X, 4000));  // where the finger slid off: not a sample
    events.push_back(event(EV_KEY, BTN_TOUCH, 0));
    events.push_back(event(EV_SYN, SYN_REPORT, 0));
    return events;
}

std::vector<TouchSummary> feedAll(TouchSampler& sampler, const std::vector<input_event>& events)
{
    std::vector<TouchSummary> touches;
    for (const input_event& e : events)
        if (std::optional<TouchSummary> touch = sampler.feed(e))
            touches.push_back(*touch);
    return touches;
}

TEST(TouchSampler, AveragesTheReportsWhileTheFingerIsDown)
{
    TouchSampler sampler({0, 0});
    const std::vector<TouchSummary> touches =
        feedAll(sampler, touchEvents({{100, 200}, {104, 200}, {100, 204}, {104, 204}}));
    ASSERT_EQ(touches.size(), 1U);
    EXPECT_EQ(touches[0].samples, 4);
    EXPECT_DOUBLE_EQ(touches[0].mean.x, 102);
    EXPECT_DOUBLE_EQ(touches[0].mean.y, 202);
    EXPECT_NEAR(touches[0].scatter, std::sqrt(8.0), 1e-9);
}

// The kernel passes on only what changed: a touch where the last one
// ended, or where the device stood when opened, brings no ABS events.
TEST(TouchSampler, CarriesThePositionOverWhenTheKernelReportsNoChange)
{
    TouchSampler sampler({300, 400});
    const std::vector<TouchSummary> touches =
        feedAll(sampler, {event(EV_KEY, BTN_TOUCH, 1), event(EV_SYN, SYN_REPORT, 0),
                          event(EV_ABS, ABS_Y, 410), event(EV_SYN, SYN_REPORT, 0),
                          event(EV_KEY, BTN_TOUCH, 0), event(EV_SYN, SYN_REPORT, 0)});
    ASSERT_EQ(touches.size(), 1U);
    EXPECT_EQ(touches[0].samples, 2);
    EXPECT_DOUBLE_EQ(touches[0].mean.x, 300);
    EXPECT_DOUBLE_EQ(touches[0].mean.y, 405);
}

TEST(TouchSampler, TouchesSeenOnlyInPartGiveNothing)
{
    TouchSampler sampler({0, 0});
    // Down before the sampler started: only its end is seen.
    EXPECT_TRUE(feedAll(sampler, {event(EV_ABS, ABS_X, 5), event(EV_SYN, SYN_REPORT, 0),
                                  event(EV_KEY, BTN_TOUCH, 0), event(EV_SYN, SYN_REPORT, 0)})
                    .empty());
    // Events lost in the middle.
    std::vector<input_event> dropped = touchEvents({{10, 10}, {20, 20}});
    dropped.insert(dropped.begin() + 4, event(EV_SYN, SYN_DROPPED, 0));
    EXPECT_TRUE(feedAll(sampler, dropped).empty());
    EXPECT_TRUE(sampler.needsResync());
    sampler.resync({50, 50});
    EXPECT_EQ(feedAll(sampler, touchEvents({{60, 60}})).size(), 1U);
}

TEST(Targets, CornersATenthInAndTheCentreAtFixedPixels)
{
    const TargetSet targets = placeTargets(kPanel);
    const int expected[kTargetCount][2] = {{80, 48}, {719, 48}, {719, 431}, {80, 431}, {400, 240}};
    for (std::size_t i = 0; i < kTargetCount; ++i) {
        EXPECT_EQ(targets[i].x, expected[i][0]) << targets[i].name;
        EXPECT_EQ(targets[i].y, expected[i][1]) << targets[i].name;
    }
    const Point topLeft = screenFraction(targets[0], kPanel);
    const Point bottomRight = screenFraction(targets[2], kPanel);
    EXPECT_DOUBLE_EQ(topLeft.x + bottomRight.x, 1);
    EXPECT_DOUBLE_EQ(topLeft.y + bottomRight.y, 1);
}

// A panel turned by 90 degrees and 3 % off: where it reports a touch of
// the screen point (px, py), in raw units.
Point turnedPanel(double px, double py)
{
    const double x = (px + 0.5) / kPanel.width;
    const double y = (py + 0.5) / kPanel.height;
    return {(0.97 * y + 0.01) * 4096, (1 - (0.97 * x + 0.02)) * 4096};
}

TouchSummary heldTouch(Point raw)
{
    return {5, raw, 1.5};
}

TouchSummary touchOn(const CalibrationSession& session)
{
    const Target& target = session.currentTarget();
    return heldTouch(turnedPanel(target.x, target.y));
}

TEST(CalibrationSession, FitsATurnedPanelAndChecksItOnTheCentre)
{
    CalibrationSession session(kPanel, kAxis, kAxis, TouchRules{});
    for (std::size_t corner = 0; corner < kCornerCount; ++corner)
        ASSERT_EQ(session.offer(touchOn(session)), Verdict::accepted) << corner;
    ASSERT_TRUE(session.fit().ok);
    const Matrix& m = session.fit().matrix;
    EXPECT_NEAR(m[0], 0, 1e-6);
    EXPECT_NEAR(m[1], -1 / 0.97, 1e-6);
    EXPECT_NEAR(m[3], 1 / 0.97, 1e-6);
    EXPECT_NEAR(m[4], 0, 1e-6);
    EXPECT_EQ(session.offer(touchOn(session)), Verdict::fitted);
    EXPECT_TRUE(session.over());
    EXPECT_LT(session.residualPixels(), 0.01);
    EXPECT_EQ(centreLine(session), "centre at 400,240 fitted 400.0,240.0 residual 0.0 px");
}

TEST(CalibrationSession, AsksAgainForTouchesThatCannotCount)
{
    CalibrationSession session(kPanel, kAxis, kAxis, TouchRules{});
    const TouchSummary good = touchOn(session);
    EXPECT_EQ(session.offer({2, good.mean, 0}), Verdict::tooFewSamples);
    EXPECT_EQ(session.offer({9, good.mean, 90}), Verdict::scattered);
    EXPECT_EQ(session.offer(heldTouch({2048, 800})), Verdict::farFromTargets);
    EXPECT_EQ(againLine(session, Verdict::farFromTargets),
              "again 1/5: that touch was far from every target: touch the centre of the cross");
    EXPECT_EQ(session.targetIndex(), 0U);
    ASSERT_EQ(session.offer(good), Verdict::accepted);
    EXPECT_EQ(session.offer(good), Verdict::sameSpotAgain);
    EXPECT_EQ(targetLine(session), "target 2/5 top-right at 719,48");
    EXPECT_FALSE(session.over());
}

TEST(CalibrationSession, ACentreOffTheFitFailsTheRun)
{
    CalibrationSession session(kPanel, kAxis, kAxis, TouchRules{});
    for (std::size_t corner = 0; corner < kCornerCount; ++corner)
        session.offer(touchOn(session));
    const Point centre = turnedPanel(400, 240);
    EXPECT_EQ(session.offer(heldTouch({centre.x + 300, centre.y})), Verdict::centreOff);
    EXPECT_TRUE(session.over());
    EXPECT_GT(session.residualPixels(), 30);
}

TEST(Canvas, TheTargetPictureAHarnessFinds)
{
    constexpr int width = 64;
    constexpr int height = 48;
    std::vector<std::uint32_t> pixels(width * height);
    Canvas canvas{reinterpret_cast<std::uint8_t*>(pixels.data()), width, height, width * 4, {}};
    drawTargetPicture(canvas, 30, 20);
    const auto at = [&](int x, int y) { return pixels[y * width + x]; };
    EXPECT_EQ(at(30, 20), 0xff0000U);
    EXPECT_EQ(at(30 - kCrossArm, 19), 0xffffffU);
    EXPECT_EQ(at(31, 20 + kCrossArm), 0xffffffU);
    EXPECT_EQ(at(30 + kCrossArm + 1, 20), 0x202060U);
    EXPECT_EQ(at(32, 22), 0x202060U);
    std::size_t red = 0;
    for (const std::uint32_t pixel : pixels)
        red += pixel == 0xff0000U ? 1 : 0;
    EXPECT_EQ(red, 1U);
    drawTargetPicture(canvas, 0, height - 1);  // clipped at the edges
    EXPECT_EQ(at(0, height - 1), 0xff0000U);
}

TEST(Canvas, SixteenBitFramebuffersGetTheirOwnLayout)
{
    PixelFormat rgb565{2, 11, 5, 5, 6, 0, 5};
    EXPECT_EQ(packColour(kCentre, rgb565), 0xf800U);
    EXPECT_EQ(packColour(kCross, rgb565), 0xffffU);
    EXPECT_EQ(packColour(kBackground, PixelFormat{}), 0x202060U);
}

}  // namespace
}  // namespace quorin::calibrate
