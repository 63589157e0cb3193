#pragma once

#include <cstddef>
#include <vector>

#include "calibrate/fit/matrix_fit.h"
#include "calibrate/fit/targets.h"
#include "calibrate/input/touch_sampler.h"

namespace quorin::calibrate {

// What is asked of a touch before it counts for a target, each as a
// fraction of the device's axes unless said otherwise.
struct TouchRules {
    int minSamples = 3;
    double maxScatter = 0.02;
    double plausibleDistance = 0.2;  // from where some target could appear
    double minSeparation = 0.25;     // from every touch already taken
    double maxResidualShare = 0.03;  // of the screen's smaller side, for the centre
    double minResidualLimit = 8;     // pixels
};

enum class Verdict {
    accepted,        // the next target is up
    tooFewSamples,   // ask again: held too briefly
    scattered,       // ask again: the finger moved or the panel is noisy
    farFromTargets,  // ask again: no target is anywhere near
    sameSpotAgain,   // ask again: where an earlier target was touched
    fitted,          // all five taken and the centre agrees with the fit
    degenerate,      // failed: the corners give no matrix
    centreOff,       // failed: the centre disagrees with the fit
};

// The guided run's logic: the targets in order, which touches count, the
// fit from the four corners and its check on the centre.
class CalibrationSession {
public:
    CalibrationSession(Size screen, AxisRange x, AxisRange y, const TouchRules& touchRules);

    Verdict offer(const TouchSummary& touch);

    Size screen() const { return screenSize; }
    const TargetSet& targets() const { return placed; }
    std::size_t targetIndex() const { return taken.size(); }
    const Target& currentTarget() const { return placed[taken.size()]; }
    bool over() const { return isOver; }
    const FitResult& fit() const { return fitted; }
    // Where the fit puts the centre touch, in pixel columns and rows as
    // the targets are given, and how far that is from the centre target.
    Point fittedCentre() const { return centreOnScreen; }
    double residualPixels() const { return residual; }

private:
    Verdict judge(const TouchSummary& touch, Point device) const;
    Verdict take(Point device);
    Verdict checkCentre(Point device);
    double residualLimit() const;

    Size screenSize;
    AxisRange xAxis;
    AxisRange yAxis;
    TouchRules rules;
    TargetSet placed;
    std::vector<PointPair> taken;
    FitResult fitted;
    Point centreOnScreen;
    double residual = 0;
    bool isOver = false;
};

// One line for the user: why a touch did not count, or how the run ended.
const char* describe(Verdict verdict);

}  // namespace quorin::calibrate
