#include "calibrate/fit/matrix_fit.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace quorin::calibrate {

namespace {

// Below this the device points' spread is, relative to its size, too
// flat for a fit: det / trace^2 of their covariance is 1/4 for a square,
// 0 for a line.
constexpr double kMinFlatness = 1e-3;
constexpr double kMinSpread = 1e-12;

// Sums of the products of the device points' deviations from their mean.
struct Spread {
    Point mean;
    double xx = 0;
    double yy = 0;
    double xy = 0;
};

Spread deviceSpread(const std::vector<PointPair>& pairs)
{
    Spread spread;
    for (const PointPair& pair : pairs) {
        spread.mean.x += pair.device.x;
        spread.mean.y += pair.device.y;
    }
    spread.mean.x /= static_cast<double>(pairs.size());
    spread.mean.y /= static_cast<double>(pairs.size());
    for (const PointPair& pair : pairs) {
        const double dx = pair.device.x - spread.mean.x;
        const double dy = pair.device.y - spread.mean.y;
        spread.xx += dx * dx;
        spread.yy += dy * dy;
        spread.xy += dx * dy;
    }
    return spread;
}

bool allFinite(const std::vector<PointPair>& pairs)
{
    return std::all_of(pairs.begin(), pairs.end(), [](const PointPair& pair) {
        return std::isfinite(pair.device.x) && std::isfinite(pair.device.y) &&
               std::isfinite(pair.screen.x) && std::isfinite(pair.screen.y);
    });
}

FitResult refusal(const char* why)
{
    FitResult result;
    result.error = why;
    return result;
}

// One row of the matrix (a b c or d e f) for one screen coordinate, by the
// normal equations on the centred points.
std::array<double, 3> fitRow(const std::vector<PointPair>& pairs, const Spread& spread,
                             double Point::*coordinate)
{
    double screenMean = 0;
    for (const PointPair& pair : pairs)
        screenMean += pair.screen.*coordinate;
    screenMean /= static_cast<double>(pairs.size());
    double withX = 0;
    double withY = 0;
    for (const PointPair& pair : pairs) {
        const double deviation = pair.screen.*coordinate - screenMean;
        withX += (pair.device.x - spread.mean.x) * deviation;
        withY += (pair.device.y - spread.mean.y) * deviation;
    }
    const double determinant = spread.xx * spread.yy - spread.xy * spread.xy;
    const double alongX = (withX * spread.yy - withY * spread.xy) / determinant;
    const double alongY = (withY * spread.xx - withX * spread.xy) / determinant;
    return {alongX, alongY, screenMean - alongX * spread.mean.x - alongY * spread.mean.y};
}

}  // namespace

FitResult fitMatrix(const std::vector<PointPair>& pairs)
{
    if (pairs.size() < 3)
        return refusal("at least three touched points are needed");
    if (!allFinite(pairs))
        return refusal("a touched point is not a number");
    const Spread spread = deviceSpread(pairs);
    const double trace = spread.xx + spread.yy;
    if (trace < kMinSpread)
        return refusal("all touches landed on one spot");
    if (spread.xx * spread.yy - spread.xy * spread.xy < kMinFlatness * trace * trace)
        return refusal("the touches lie on one line");
    const std::array<double, 3> first = fitRow(pairs, spread, &Point::x);
    const std::array<double, 3> second = fitRow(pairs, spread, &Point::y);
    FitResult result;
    result.matrix = {first[0], first[1], first[2], second[0], second[1], second[2]};
    result.ok = true;
    return result;
}

Point applyMatrix(const Matrix& matrix, Point point)
{
    return {matrix[0] * point.x + matrix[1] * point.y + matrix[2],
            matrix[3] * point.x + matrix[4] * point.y + matrix[5]};
}

Point normalizedDevicePoint(Point raw, AxisRange x, AxisRange y)
{
    return {(raw.x - x.minimum) / (x.maximum - x.minimum + 1.0),
            (raw.y - y.minimum) / (y.maximum - y.minimum + 1.0)};
}

}  // namespace quorin::calibrate
