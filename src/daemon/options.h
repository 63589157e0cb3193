#pragma once

#include <string>
#include <vector>

namespace quorin {

constexpr const char* kDefaultDevice = "/dev/ttyS0";
// Where Debian's prometheus-node-exporter reads *.prom files by default.
constexpr const char* kDefaultMetricsFile = "/var/lib/prometheus/node-exporter/quorin.prom";

// What the command line asks for. Without arguments: detach from the
// terminal and read /dev/ttyS0, as the daemon always has.
struct Options {
    enum class Action { run, help, version, usageError };
    Action action = Action::run;
    bool foreground = false;
    std::string device = kDefaultDevice;
    std::string metricsFile = kDefaultMetricsFile;  // the service mode's only
    // The service mode's: the screen the backlight follows, as named in
    // /sys/class/drm; empty for the one connected, "none" for none.
    std::string screen;
    std::string error;  // for usageError: what was wrong
};

// The arguments after the program name. Long options take their value as
// the next argument or after '='.
Options parseOptions(const std::vector<std::string>& arguments);

std::string usageText();
std::string versionText();

// Answers --help, --version and a bad command line on the right stream.
// Returns the exit status, or -1 when the daemon is to run.
int answerInformationalOptions(const Options& options);

}  // namespace quorin
