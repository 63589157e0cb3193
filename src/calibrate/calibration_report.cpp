#include "calibrate/calibration_report.h"

#include <cstdio>

#include "calibrate/install/matrix_text.h"

namespace quorin::calibrate {

namespace {

std::string oneDecimal(double value)
{
    char text[32];
    if (std::snprintf(text, sizeof text, "%.1f", value) <= 0)
        return "?";
    return text;
}

std::string pair(double x, double y)
{
    return oneDecimal(x) + "," + oneDecimal(y);
}

std::string pixel(int x, int y)
{
    return std::to_string(x) + "," + std::to_string(y);
}

std::string axis(AxisRange range)
{
    return std::to_string(range.minimum) + ".." + std::to_string(range.maximum);
}

std::string ordinal(const CalibrationSession& session)
{
    return std::to_string(session.targetIndex() + 1) + "/" + std::to_string(kTargetCount);
}

}  // namespace

std::string screenLine(Size screen, const char* backend)
{
    return "screen " + std::to_string(screen.width) + "x" + std::to_string(screen.height) + " " +
           backend;
}

std::string deviceLine(const std::string& path, AxisRange x, AxisRange y)
{
    return "device " + path + " x " + axis(x) + " y " + axis(y);
}

std::string targetLine(const CalibrationSession& session)
{
    const Target& target = session.currentTarget();
    return "target " + ordinal(session) + " " + target.name + " at " + pixel(target.x, target.y);
}

std::string touchLine(const CalibrationSession& session, const TouchSummary& touch)
{
    return "touch " + ordinal(session) + " raw " + pair(touch.mean.x, touch.mean.y) + " samples " +
           std::to_string(touch.samples) + " scatter " + oneDecimal(touch.scatter);
}

std::string againLine(const CalibrationSession& session, Verdict verdict)
{
    return "again " + ordinal(session) + ": " + describe(verdict);
}

std::string matrixLine(const Matrix& matrix)
{
    return "matrix " + matrixText(matrix);
}

std::string centreLine(const CalibrationSession& session)
{
    const Target& centre = session.targets()[kCornerCount];
    const Point fitted = session.fittedCentre();
    return "centre at " + pixel(centre.x, centre.y) + " fitted " + pair(fitted.x, fitted.y) +
           " residual " + oneDecimal(session.residualPixels()) + " px";
}

std::string ruleLine(const Matrix& matrix, const std::string& output)
{
    return "rule " + udevRuleLine(matrix, output);
}

}  // namespace quorin::calibrate
