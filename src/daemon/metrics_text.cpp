#include "daemon/metrics_text.h"

namespace quorin {

namespace {

struct Family {
    const char* name;
    const char* type;
    const char* help;
};

constexpr Family kRecords{"quorin_records_total", "counter",
                          "Touch records decoded from the controller's line."};
constexpr Family kRejected{"quorin_records_rejected_total", "counter",
                           "Damaged records skipped on the controller's line."};
constexpr Family kLastRecord{"quorin_last_record_timestamp_seconds", "gauge",
                             "When the last record came, to the second."};
constexpr Family kCommands{"quorin_brightness_commands_total", "counter",
                           "Brightness commands written to the controller."};
constexpr Family kLevel{"quorin_brightness_level", "gauge",
                        "The brightness level last sent, 0 to 31."};
constexpr Family kGivenUp{"quorin_brightness_commands_given_up_total", "counter",
                          "Brightness commands not sent: the write failed, or a stop gave up "
                          "one the line held back."};
constexpr Family kScreen{"quorin_screen_on", "gauge",
                         "Whether the screen the backlight follows is on (1) or blanked (0)."};
constexpr Family kStart{"quorin_start_time_seconds", "gauge", "When the daemon started."};
constexpr Family kBuild{"quorin_build_info", "gauge", "The daemon's version, as a label."};

std::string header(const Family& family)
{
    return std::string("# HELP ") + family.name + " " + family.help + "\n# TYPE " + family.name +
           " " + family.type + "\n";
}

class Writer {
public:
    explicit Writer(const std::string& port) : labels("port=\"" + escapeLabelValue(port) + "\"") {}

    void sample(const Family& family, const std::string& value, const std::string& extra = "")
    {
        text += header(family) + family.name + "{" + labels + extra + "} " + value + "\n";
    }

    std::string text;

private:
    const std::string labels;
};

}  // namespace

std::string escapeLabelValue(const std::string& value)
{
    std::string escaped;
    for (const char c : value) {
        if (c == '\\' || c == '"')
            escaped += '\\';
        if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

std::string formatMetrics(const Metrics& metrics)
{
    const Health& health = metrics.health;
    Writer out(metrics.port);
    out.sample(kRecords, std::to_string(health.records));
    out.sample(kRejected, std::to_string(health.badRecords));
    if (metrics.lastRecordTime)
        out.sample(kLastRecord, std::to_string(*metrics.lastRecordTime));
    out.sample(kCommands, std::to_string(health.commandsSent));
    if (health.brightnessLevel >= 0)
        out.sample(kLevel, std::to_string(health.brightnessLevel));
    out.sample(kGivenUp, std::to_string(health.commandsGivenUp));
    if (health.screenOn)
        out.sample(kScreen, *health.screenOn ? "1" : "0");
    out.sample(kStart, std::to_string(metrics.startTime));
    out.sample(kBuild, "1", ",version=\"" + escapeLabelValue(metrics.version) + "\"");
    return out.text;
}

}  // namespace quorin
