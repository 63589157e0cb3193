#include "calibrate/fit/calibration_session.h"

#include <algorithm>
#include <cmath>

namespace quorin::calibrate {

CalibrationSession::CalibrationSession(Size screen, AxisRange x, AxisRange y,
                                       const TouchRules& touchRules)
    : screenSize(screen),
      xAxis(x),
      yAxis(y),
      rules(touchRules),
      placed(placeTargets(screen))
{
}

Verdict CalibrationSession::offer(const TouchSummary& touch)
{
    const Point device = normalizedDevicePoint(touch.mean, xAxis, yAxis);
    const Verdict verdict = judge(touch, device);
    if (verdict != Verdict::accepted)
        return verdict;
    return take(device);
}

Verdict CalibrationSession::judge(const TouchSummary& touch, Point device) const
{
    if (touch.samples < rules.minSamples)
        return Verdict::tooFewSamples;
    const double axisWidth =
        std::min(xAxis.maximum - xAxis.minimum + 1.0, yAxis.maximum - yAxis.minimum + 1.0);
    if (touch.scatter > rules.maxScatter * axisWidth)
        return Verdict::scattered;
    if (!nearSomeTarget(device, placed, screenSize, rules.plausibleDistance))
        return Verdict::farFromTargets;
    for (const PointPair& earlier : taken)
        if (std::hypot(device.x - earlier.device.x, device.y - earlier.device.y) <
            rules.minSeparation)
            return Verdict::sameSpotAgain;
    return Verdict::accepted;
}

Verdict CalibrationSession::take(Point device)
{
    if (taken.size() == kCornerCount)
        return checkCentre(device);
    taken.push_back({device, screenFraction(currentTarget(), screenSize)});
    if (taken.size() < kCornerCount)
        return Verdict::accepted;
    fitted = fitMatrix(taken);
    isOver = !fitted.ok;
    return fitted.ok ? Verdict::accepted : Verdict::degenerate;
}

Verdict CalibrationSession::checkCentre(Point device)
{
    const Target& centre = currentTarget();
    const Point fraction = applyMatrix(fitted.matrix, device);
    // In pixel columns and rows, as the target's own position is given.
    centreOnScreen = {fraction.x * screenSize.width - 0.5, fraction.y * screenSize.height - 0.5};
    residual = std::hypot(centreOnScreen.x - centre.x, centreOnScreen.y - centre.y);
    taken.push_back({device, screenFraction(centre, screenSize)});
    isOver = true;
    return residual <= residualLimit() ? Verdict::fitted : Verdict::centreOff;
}

double CalibrationSession::residualLimit() const
{
    const int smaller = std::min(screenSize.width, screenSize.height);
    return std::max(rules.minResidualLimit, rules.maxResidualShare * smaller);
}

const char* describe(Verdict verdict)
{
    switch (verdict) {
    case Verdict::accepted:
        return "taken";
    case Verdict::tooFewSamples:
        return "the touch was too short: touch the target again and hold the finger still a moment";
    case Verdict::scattered:
        return "the finger moved while touching: touch the target again and hold it still";
    case Verdict::farFromTargets:
        return "that touch was far from every target: touch the centre of the cross";
    case Verdict::sameSpotAgain:
        return "that touch landed where an earlier target was touched: touch the new target";
    case Verdict::fitted:
        return "calibrated";
    case Verdict::degenerate:
        return "the corner touches give no matrix";
    case Verdict::centreOff:
        return "the centre target is too far from where the fit puts it: run the calibration again";
    }
    return "";
}

}  // namespace quorin::calibrate
