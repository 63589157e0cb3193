#include "calibrate/install/matrix_text.h"

#include <cmath>
#include <cstdio>
#include <locale>
#include <sstream>

namespace quorin::calibrate {

namespace {

constexpr double kHalfLastPlace = 5e-7;
constexpr double kMinDeterminant = 1e-6;

std::string decimal(double value)
{
    if (std::fabs(value) < kHalfLastPlace)
        return "0";
    char text[64];
    if (std::snprintf(text, sizeof text, "%.6f", value) <= 0)
        return "0";
    std::string number(text);
    number.erase(number.find_last_not_of('0') + 1);
    if (number.back() == '.')
        number.pop_back();
    return number;
}

}  // namespace

std::string matrixText(const Matrix& matrix)
{
    std::string text;
    for (const double value : matrix)
        text += (text.empty() ? "" : " ") + decimal(value);
    return text;
}

std::optional<Matrix> parseMatrix(const std::string& text)
{
    std::istringstream stream(text);
    stream.imbue(std::locale::classic());
    Matrix matrix{};
    for (double& value : matrix)
        if (!(stream >> value) || !std::isfinite(value))
            return std::nullopt;
    std::string rest;
    if (stream >> rest)
        return std::nullopt;
    if (std::fabs(matrix[0] * matrix[4] - matrix[1] * matrix[3]) < kMinDeterminant)
        return std::nullopt;
    return matrix;
}

bool isPlainOutputName(const std::string& name)
{
    constexpr std::size_t kLongest = 64;
    return !name.empty() && name.size() <= kLongest &&
           name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                  "0123456789-_.:") == std::string::npos;
}

std::string udevRuleLine(const Matrix& matrix, const std::string& output)
{
    return std::string("SUBSYSTEM==\"input\", KERNEL==\"event*\", ATTRS{name}==\"") + kDeviceName +
           "\", ENV{LIBINPUT_CALIBRATION_MATRIX}=\"" + matrixText(matrix) + "\"" +
           (output.empty() ? "" : ", ENV{WL_OUTPUT}=\"" + output + "\"");
}

std::string rulesFileText(const Matrix& matrix, const std::string& output)
{
    return "# The touch panel's calibration for libinput, written by quorin-calibrate.\n"
           "# Run quorin-calibrate again to renew it; remove this file to go back to\n"
           "# the panel's raw positions.\n" +
           udevRuleLine(matrix, output) + "\n";
}

std::string installCommand(const Matrix& matrix, const std::string& output)
{
    return "sudo quorin-calibrate --install --matrix \"" + matrixText(matrix) + "\"" +
           (output.empty() ? "" : " --output " + output);
}

}  // namespace quorin::calibrate
