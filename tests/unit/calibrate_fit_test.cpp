#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "calibrate/fit/matrix_fit.h"

namespace quorin::calibrate {
namespace {

const std::vector<Point> kCorners = {{0.1, 0.1}, {0.9, 0.1}, {0.9, 0.9}, {0.1, 0.9}};

std::vector<PointPair> pairsUnder(const Matrix& truth, const std::vector<Point>& device)
{
    std::vector<PointPair> pairs;
    for (const Point& point : device)
        pairs.push_back({point, applyMatrix(truth, point)});
    return pairs;
}

void expectMatrixNear(const Matrix& actual, const Matrix& expected, double tolerance)
{
    for (std::size_t i = 0; i < actual.size(); ++i)
        EXPECT_NEAR(actual[i], expected[i], tolerance) << "element " << i;
}

TEST(MatrixFit, RecoversEveryMountingFromTheFourCorners)
{
    const Matrix mountings[] = {
        {1, 0, 0, 0, 1, 0},                        // as it should be
        {-1, 0, 1, 0, -1, 1},                      // turned by 180 degrees
        {0, -1, 1, 1, 0, 0},                       // turned by 90 degrees clockwise
        {0, 1, 0, -1, 0, 1},                       // anticlockwise
        {-1, 0, 1, 0, 1, 0},                       // mirrored left to right
        {0, -1.0309, 1.0103, 1.0309, 0, -0.0103},  // turned and 3 % off
        {0.98, 0.02, -0.01, -0.03, 1.05, 0.02},    // slightly skewed
    };
    for (const Matrix& truth : mountings) {
        const FitResult fit = fitMatrix(pairsUnder(truth, kCorners));
        ASSERT_TRUE(fit.ok) << fit.error;
        expectMatrixNear(fit.matrix, truth, 1e-9);
    }
}

// With more points than unknowns the fit must be the least-squares one:
// its residuals sum to zero and are uncorrelated with x and with y (the
// normal equations), which no other matrix achieves.
TEST(MatrixFit, NoisyCornersGiveTheLeastSquaresMatrix)
{
    std::vector<PointPair> pairs = pairsUnder({0, -1, 1, 1, 0, 0}, kCorners);
    pairs[0].screen.x += 0.01;
    pairs[2].screen.y -= 0.02;
    pairs[3].device.x += 0.005;
    const FitResult fit = fitMatrix(pairs);
    ASSERT_TRUE(fit.ok);
    double sums[2][3] = {};
    for (const PointPair& pair : pairs) {
        const Point mapped = applyMatrix(fit.matrix, pair.device);
        const double residuals[2] = {mapped.x - pair.screen.x, mapped.y - pair.screen.y};
        for (int row = 0; row < 2; ++row) {
            sums[row][0] += residuals[row];
            sums[row][1] += residuals[row] * pair.device.x;
            sums[row][2] += residuals[row] * pair.device.y;
        }
    }
    for (const auto& row : sums)
        for (const double sum : row)
            EXPECT_NEAR(sum, 0, 1e-12);
    expectMatrixNear(fit.matrix, {0, -1, 1, 1, 0, 0}, 0.05);
}

TEST(MatrixFit, PointSetsWithoutAUniqueMatrixAreRefused)
{
    const Matrix identity{1, 0, 0, 0, 1, 0};
    const struct {
        std::vector<Point> device;
        const char* error;
    } cases[] = {
        {{}, "at least three touched points are needed"},
        {{{0.1, 0.1}, {0.9, 0.9}}, "at least three touched points are needed"},
        {{{0.5, 0.5}, {0.5, 0.5}, {0.5, 0.5}, {0.5, 0.5}}, "all touches landed on one spot"},
        {{{0.1, 0.1}, {0.5, 0.5}, {0.9, 0.9}, {0.3, 0.3}}, "the touches lie on one line"},
        {{{0.1, 0.2}, {0.9, 0.2}, {0.5, 0.2}, {0.2, 0.2}}, "the touches lie on one line"},
        {{{0.1, 0.1}, {0.9, 0.1}, {0.9, 0.1001}, {0.1, 0.1001}}, "the touches lie on one line"},
        {{{0.1, 0.1}, {0.9, 0.1}, {NAN, 0.9}}, "a touched point is not a number"},
    };
    for (const auto& refused : cases) {
        const FitResult fit = fitMatrix(pairsUnder(identity, refused.device));
        EXPECT_FALSE(fit.ok) << refused.error;
        EXPECT_EQ(fit.error, refused.error);
    }
    EXPECT_TRUE(fitMatrix(pairsUnder(identity, {{0.1, 0.1}, {0.9, 0.1}, {0.5, 0.9}})).ok);
}

// libinput divides by maximum - minimum + 1 after taking the minimum off.
TEST(MatrixFit, DevicePointsAreNormalisedAsLibinputDoes)
{
    const AxisRange panel{0, 4095};
    EXPECT_DOUBLE_EQ(normalizedDevicePoint({0, 0}, panel, panel).x, 0);
    EXPECT_DOUBLE_EQ(normalizedDevicePoint({4095, 0}, panel, panel).x, 4095.0 / 4096);
    EXPECT_DOUBLE_EQ(normalizedDevicePoint({0, 2048}, panel, panel).y, 0.5);
    const Point offset = normalizedDevicePoint({612, 100}, {100, 1123}, {100, 355});
    EXPECT_DOUBLE_EQ(offset.x, 0.5);
    EXPECT_DOUBLE_EQ(offset.y, 0);
}

}  // namespace
}  // namespace quorin::calibrate
