#include "daemon/status_line.h"

namespace quorin {

std::string groupedCount(std::uint64_t count)
{
    std::string digits = std::to_string(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3)
        digits.insert(at - 3, " ");
    return digits;
}

std::string roughDuration(std::chrono::seconds duration)
{
    constexpr long long minute = 60;
    constexpr long long hour = 60 * minute;
    constexpr long long day = 24 * hour;
    const long long seconds = duration.count();
    if (seconds < minute)
        return std::to_string(seconds) + " s";
    if (seconds < hour)
        return std::to_string(seconds / minute) + " min";
    if (seconds < 2 * day)
        return std::to_string(seconds / hour) + " h";
    return std::to_string(seconds / day) + " d";
}

namespace {

std::string recordsPart(std::uint64_t records)
{
    if (records == 0)
        return "no records yet";
    return groupedCount(records) + (records == 1 ? " record" : " records");
}

}  // namespace

std::string formatStatusLine(const std::string& device, const Health& health)
{
    std::string line = device + ": ";
    if (health.lineFailing)
        line += "line failing, ";
    line += recordsPart(health.records) + ", " + groupedCount(health.badRecords) + " bad";
    if (health.records > 0 && health.sinceLastRecord)
        line += ", last " + roughDuration(*health.sinceLastRecord) + " ago";
    line += "; brightness ";
    line += health.brightnessLevel < 0 ? "not set yet" : std::to_string(health.brightnessLevel);
    if (health.screenOn)
        line += *health.screenOn ? "; screen on" : "; screen off";
    if (health.screenOn && !*health.screenOn && health.brightnessWanted >= 0)
        line += ", " + std::to_string(health.brightnessWanted) + " when on";
    return line;
}

}  // namespace quorin
