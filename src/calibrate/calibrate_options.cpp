#include "calibrate/calibrate_options.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <optional>

#include "calibrate/install/matrix_text.h"

namespace quorin::calibrate {

namespace {

constexpr const char* kUsageLines =
    "Usage: quorin-calibrate [--install] [--display auto|wayland|x11|drm|fbdev]\n"
    "                        [--output NAME] [--device PATH] [--timeout SECONDS]\n"
    "                        [--samples N] [--drm-device PATH] [--fb-device PATH]\n"
    "       quorin-calibrate --install --matrix \"a b c d e f\" [--output NAME]\n";
constexpr int kMaxTimeout = 3600;
constexpr int kMaxSamples = 1000;

struct Parser {
    explicit Parser(const std::vector<std::string>& arguments) : arguments(arguments) {}

    const std::vector<std::string>& arguments;
    std::size_t next = 0;
    CalibrateOptions options;
    std::string matrixText;
    bool matrixGiven = false;
};

CalibrateOptions usageError(const std::string& why)
{
    CalibrateOptions options;
    options.action = CalibrateOptions::Action::usageError;
    options.error = why;
    return options;
}

std::optional<int> wholeNumber(const std::string& text, int low, int high)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 9)
        return std::nullopt;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value < low || value > high)
        return std::nullopt;
    return static_cast<int>(value);
}

std::optional<DisplayChoice> displayChoice(const std::string& text)
{
    if (text == "auto")
        return DisplayChoice::automatic;
    if (text == "wayland")
        return DisplayChoice::wayland;
    if (text == "x11")
        return DisplayChoice::x11;
    if (text == "drm")
        return DisplayChoice::drm;
    if (text == "fbdev")
        return DisplayChoice::fbdev;
    return std::nullopt;
}

// The option's name and value, from "--name value" or "--name=value".
bool optionWithValue(Parser& parser, const std::string& argument, std::string& name,
                     std::string& value)
{
    const std::size_t equals = argument.find('=');
    name = argument.substr(0, equals);
    if (equals != std::string::npos) {
        value = argument.substr(equals + 1);
        return true;
    }
    if (parser.next == parser.arguments.size())
        return false;
    value = parser.arguments[parser.next++];
    return true;
}

// Sets the option `name` takes a value for; an empty result is success.
std::string setValue(Parser& parser, const std::string& name, const std::string& value)
{
    CalibrateOptions& options = parser.options;
    if (name == "--device" || name == "-d")
        options.touchDevice = value;
    else if (name == "--drm-device")
        options.drmDevice = value;
    else if (name == "--fb-device")
        options.fbDevice = value;
    else if (name == "--output") {
        if (!isPlainOutputName(value))
            return "--output takes an output's name, such as HDMI-A-1: letters, digits and -_.:";
        options.output = value;
    } else if (name == "--matrix") {
        parser.matrixText = value;
        parser.matrixGiven = true;
    } else if (name == "--display") {
        const std::optional<DisplayChoice> display = displayChoice(value);
        if (!display)
            return "--display takes auto, wayland, x11, drm or fbdev";
        options.display = *display;
    } else if (name == "--timeout" || name == "-t") {
        const std::optional<int> seconds = wholeNumber(value, 1, kMaxTimeout);
        if (!seconds)
            return "--timeout takes a number of seconds from 1 to 3600";
        options.timeoutSeconds = *seconds;
    } else if (name == "--samples") {
        const std::optional<int> samples = wholeNumber(value, 1, kMaxSamples);
        if (!samples)
            return "--samples takes a number from 1 to 1000";
        options.minSamples = *samples;
    }
    return value.empty() ? "option '" + name + "' needs a value" : "";
}

bool takesValue(const std::string& name)
{
    static const char* const known[] = {"--device",  "-d",        "--drm-device", "--fb-device",
                                        "--matrix",  "--display", "--timeout",    "-t",
                                        "--samples", "--output"};
    return std::any_of(std::begin(known), std::end(known),
                       [&name](const char* option) { return name == option; });
}

// One argument; an empty result is success.
std::string parseOne(Parser& parser)
{
    const std::string& argument = parser.arguments[parser.next++];
    CalibrateOptions& options = parser.options;
    if (argument == "-h" || argument == "--help")
        options.action = CalibrateOptions::Action::help;
    else if (argument == "-V" || argument == "--version")
        options.action = CalibrateOptions::Action::version;
    else if (argument == "-i" || argument == "--install")
        options.install = true;
    else {
        std::string name;
        std::string value;
        if (!takesValue(argument.substr(0, argument.find('='))))
            return "unknown argument '" + argument + "'";
        if (!optionWithValue(parser, argument, name, value))
            return "option '" + argument + "' needs a value";
        return setValue(parser, name, value);
    }
    return "";
}

CalibrateOptions finish(Parser& parser)
{
    CalibrateOptions& options = parser.options;
    if (!options.output.empty() && options.display == DisplayChoice::fbdev)
        return usageError("--output goes with a display server or DRM: the framebuffer has one "
                          "screen");
    if (options.action != CalibrateOptions::Action::calibrate || !parser.matrixGiven)
        return options;
    if (!options.install)
        return usageError("--matrix goes with --install");
    const std::optional<Matrix> matrix = parseMatrix(parser.matrixText);
    if (!matrix)
        return usageError("--matrix takes six numbers \"a b c d e f\" with a*e - b*d not 0");
    options.matrix = *matrix;
    options.action = CalibrateOptions::Action::installMatrix;
    return options;
}

}  // namespace

CalibrateOptions parseCalibrateOptions(const std::vector<std::string>& arguments)
{
    Parser parser(arguments);
    while (parser.next < arguments.size()) {
        const std::string error = parseOne(parser);
        if (!error.empty())
            return usageError(error);
    }
    return finish(parser);
}

std::string calibrateUsageText()
{
    return std::string(kUsageLines) +
           "Shows five targets on the touch panel's screen, one after another, reads\n"
           "the raw touches of \"uinput-touch\", fits the calibration matrix for libinput\n"
           "and prints the udev rule that sets it.\n"
           "\n"
           "  -i, --install         write " +
           kRulesPath +
           ",\n"
           "                        reload udev and restart quorinDaemon (as root)\n"
           "      --matrix \"a b c d e f\"  with --install: install these numbers, no targets\n"
           "      --display KIND    auto (default: Wayland, else X, else DRM, else fbdev),\n"
           "                        wayland, x11, drm or fbdev\n"
           "      --output NAME     the targets on this output, the touch panel's own, where\n"
           "                        there are several; with --install --matrix: the rule ties\n"
           "                        the touch screen to it for weston (WL_OUTPUT)\n"
           "  -d, --device PATH     the touch screen's event node (default: found by name)\n"
           "  -t, --timeout SECONDS give up when a target is not touched in time (default 60)\n"
           "      --samples N       samples a touch needs at least (default 3)\n"
           "      --drm-device PATH the DRM card (default: the first with a connected screen)\n"
           "      --fb-device PATH  the framebuffer (default /dev/fb0)\n"
           "  -h, --help            show this help and exit\n"
           "  -V, --version         show the version and exit\n"
           "Escape gives up. Exit status: 0 calibrated or installed, 1 failed, 2 bad\n"
           "command line, 3 given up (Escape or a signal), 4 timed out.\n";
}

int answerInformationalOptions(const CalibrateOptions& options)
{
    switch (options.action) {
    case CalibrateOptions::Action::help:
        std::cout << calibrateUsageText() << std::flush;
        return 0;
    case CalibrateOptions::Action::version:
        std::cout << "quorin-calibrate " QUORIN_VERSION "\n" << std::flush;
        return 0;
    case CalibrateOptions::Action::usageError:
        std::cerr << "quorin-calibrate: " << options.error << "\n"
                  << kUsageLines << "Try 'quorin-calibrate --help' for more." << std::endl;
        return 2;
    case CalibrateOptions::Action::calibrate:
    case CalibrateOptions::Action::installMatrix:
        break;
    }
    return -1;
}

}  // namespace quorin::calibrate
