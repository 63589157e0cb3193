#include "calibrate/input/device_lookup.h"

namespace quorin::calibrate {

namespace {

constexpr std::size_t kMaxDigits = 6;

std::string withoutNewline(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

}  // namespace

int eventNumber(const std::string& node)
{
    const std::string prefix = "event";
    if (node.compare(0, prefix.size(), prefix) != 0 || node.size() == prefix.size() ||
        node.size() > prefix.size() + kMaxDigits)
        return -1;
    int number = 0;
    for (std::size_t i = prefix.size(); i < node.size(); ++i) {
        if (node[i] < '0' || node[i] > '9')
            return -1;
        number = number * 10 + (node[i] - '0');
    }
    return number;
}

std::optional<std::string> findEventNode(const std::vector<InputEntry>& entries,
                                         const std::string& name)
{
    int best = -1;
    for (const InputEntry& entry : entries) {
        const int number = eventNumber(entry.node);
        if (number >= 0 && withoutNewline(entry.nameFile) == name && (best < 0 || number < best))
            best = number;
    }
    if (best < 0)
        return std::nullopt;
    return "/dev/input/event" + std::to_string(best);
}

std::string udevProperty(const std::string& database, const std::string& name)
{
    const std::string key = "E:" + name + "=";
    for (std::size_t line = 0; line < database.size(); line = database.find('\n', line) + 1) {
        if (database.compare(line, key.size(), key) == 0) {
            const std::size_t end = database.find('\n', line);
            return withoutNewline(database.substr(line + key.size(), end - line - key.size()));
        }
        if (database.find('\n', line) == std::string::npos)
            break;
    }
    return "";
}

}  // namespace quorin::calibrate
