#include "daemon/options.h"

#include <cerrno>
#include <iostream>
#include <system_error>

namespace quorin {

namespace {

constexpr const char* kUsageLine = "Usage: quorinDaemon [--foreground] [--device PATH]\n";

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

}  // namespace

Options parseOptions(const std::vector<std::string>& arguments)
{
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "-h" || argument == "--help")
            options.action = Options::Action::help;
        else if (argument == "-V" || argument == "--version")
            options.action = Options::Action::version;
        else if (argument == "-f" || argument == "--foreground")
            options.foreground = true;
        else if (argument == "-d" || argument == "--device") {
            if (++i == arguments.size())
                return usageError("option '" + argument + "' needs a path");
            options.device = arguments[i];
        } else if (!takeValue(argument, "--device", options.device))
            return usageError("unknown argument '" + argument + "'");
        if (options.device.empty())
            return usageError("the device path is empty");
    }
    return options;
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
