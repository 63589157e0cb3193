#include "daemon/options.h"

#include <cerrno>
#include <iostream>
#include <system_error>

namespace quorin {

namespace {

constexpr const char* kUsageLine =
    "Usage: quorinDaemon [--foreground [--metrics-file PATH] [--screen CONNECTOR|none]]\n"
    "                    [--device PATH]\n";

// Splits "--name=value"; the value is empty when there is no '='.
bool takeValue(const std::string& argument, const char* name, std::string& value)
{
    const std::string prefix = std::string(name) + "=";
    if (argument.compare(0, prefix.size(), prefix) != 0)
        return false;
    value = argument.substr(prefix.size());
    return true;
}

Options usageError(const std::string& why)
{
    Options options;
    options.action = Options::Action::usageError;
    options.error = why;
    return options;
}

// An answer lost to a full disk or a closed stream must not look given.
int answer(const std::string& text)
{
    std::cout << text << std::flush;
    if (std::cout)
        return 0;
    const int error = errno;
    std::cerr << "quorinDaemon: write error: " << std::system_category().message(error)
              << std::endl;
    return 1;
}

// The names of an option that takes a value, what it takes and what an
// empty one is.
struct PathOption {
    const char* longName;
    const char* shortName;
    const char* valueKind;
    const char* emptyError;
};

constexpr PathOption kDevice{"--device", "-d", "a path", "the device path is empty"};
constexpr PathOption kMetricsFile{"--metrics-file", nullptr, "a path",
                                  "the metrics file's path is empty"};
constexpr PathOption kScreen{"--screen", nullptr, "a name", "the screen's name is empty"};

// The option as "--name PATH" or "--name=PATH"; true when `arguments[i]`
// is that option. An empty `why` is success.
bool pathOption(const std::vector<std::string>& arguments, std::size_t& i, const PathOption& option,
                std::string& path, std::string& why)
{
    const char* longName = option.longName;
    const char* shortName = option.shortName;
    const std::string& argument = arguments[i];
    if (argument == longName || (shortName && argument == shortName)) {
        if (++i == arguments.size())
            why = "option '" + argument + "' needs " + option.valueKind;
        else
            path = arguments[i];
    } else if (!takeValue(argument, longName, path))
        return false;
    if (why.empty() && path.empty())
        why = option.emptyError;
    return true;
}

// What the service mode alone takes.
struct ServiceOptionsGiven {
    bool metricsFile = false;
    bool screen = false;
};

// A name in /sys/class/drm: it must not lead out of it.
bool connectorNamed(const std::string& name)
{
    return name.find('/') == std::string::npos && name != "." && name != "..";
}

Options checked(Options options, ServiceOptionsGiven given)
{
    if (options.action != Options::Action::run)
        return options;
    if (given.metricsFile && !options.foreground)
        return usageError("--metrics-file goes with --foreground");
    if (given.screen && !options.foreground)
        return usageError("--screen goes with --foreground");
    // The daemon works from /: a relative path would not be where it was
    // meant.
    if (given.metricsFile && options.metricsFile[0] != '/')
        return usageError("the metrics file's path must be absolute");
    if (!connectorNamed(options.screen))
        return usageError("the screen is named as in /sys/class/drm, such as card0-HDMI-A-1");
    return options;
}

}  // namespace

Options parseOptions(const std::vector<std::string>& arguments)
{
    Options options;
    ServiceOptionsGiven given;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        std::string why;
        if (argument == "-h" || argument == "--help")
            options.action = Options::Action::help;
        else if (argument == "-V" || argument == "--version")
            options.action = Options::Action::version;
        else if (argument == "-f" || argument == "--foreground")
            options.foreground = true;
        else if (pathOption(arguments, i, kMetricsFile, options.metricsFile, why))
            given.metricsFile = true;
        else if (pathOption(arguments, i, kScreen, options.screen, why))
            given.screen = true;
        else if (!pathOption(arguments, i, kDevice, options.device, why))
            return usageError("unknown argument '" + argument + "'");
        if (!why.empty())
            return usageError(why);
    }
    return checked(options, given);
}

std::string usageText()
{
    return std::string(kUsageLine) +
           "Reads a touch-panel controller's records from a serial line into the\n"
           "virtual touch screen \"uinput-touch\"; brightness requests written to\n"
           "/tmp/backlight go back to the controller, \"exit\" there stops the daemon.\n"
           "\n"
           "  -f, --foreground   stay in the foreground, for a service manager: no fork,\n"
           "                     readiness through sd_notify, SIGTERM and SIGINT stop\n"
           "                     the daemon in order\n"
           "  -d, --device PATH  the controller's serial line (default /dev/ttyS0)\n"
           "      --metrics-file PATH\n"
           "                     with --foreground: the Prometheus metrics file, for\n"
           "                     node-exporter's textfile collector (default\n"
           "                     /var/lib/prometheus/node-exporter/quorin.prom)\n"
           "      --screen CONNECTOR|none\n"
           "                     with --foreground: the screen whose power the backlight\n"
           "                     follows, as named in /sys/class/drm (default: the one\n"
           "                     connected), or none\n"
           "  -h, --help         show this help and exit\n"
           "  -V, --version      show the version and exit\n";
}

std::string versionText()
{
    return "quorinDaemon " QUORIN_VERSION "\n";
}

int answerInformationalOptions(const Options& options)
{
    switch (options.action) {
    case Options::Action::help:
        return answer(usageText());
    case Options::Action::version:
        return answer(versionText());
    case Options::Action::usageError:
        std::cerr << "quorinDaemon: " << options.error << "\n"
                  << kUsageLine << "Try 'quorinDaemon --help' for more." << std::endl;
        return 2;
    case Options::Action::run:
        break;
    }
    return -1;
}

}  // namespace quorin
