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
    const long long seconds = duration.count();
    if (seconds < 60)
        return std::to_string(seconds) + " s";
    if (seconds < 60 * 60)
        return std::to_string(seconds / 60) + " min";
    if (seconds < 48 * 60 * 60)
        return std::to_string(seconds / (60 * 60)) + " h";
    return std::to_string(seconds / (24 * 60 * 60)) + " d";
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
    return line;
}

}  // namespace quorin
