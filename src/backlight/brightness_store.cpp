#include "backlight/brightness_store.h"

#include <syslog.h>

#include <cctype>

#include "daemon/files/short_file.h"
#include "daemon/files/whole_file.h"

namespace quorin {

namespace {

constexpr const char* kStateFile = "/brightness";
// Longer than any percentage: a longer file is no level.
constexpr std::size_t kLongestText = 8;

}  // namespace

std::optional<int> parseKeptPercent(const std::string& text)
{
    std::size_t digits = 0;
    while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits])) != 0)
        ++digits;
    const std::string rest = text.substr(digits);
    if (digits == 0 || digits > 3 || !(rest.empty() || rest == "\n"))
        return std::nullopt;
    const int percent = std::stoi(text.substr(0, digits));
    return percent <= 100 ? std::optional<int>(percent) : std::nullopt;
}

BrightnessStore::BrightnessStore(const std::string& directory)
    : file(directory + kStateFile, "Brightness not kept in", LOG_ERR, true)
{
}

std::optional<int> BrightnessStore::load()
{
    const char* path = file.path().c_str();
    std::string text;
    if (!readShortFile(path, kLongestText, text)) {
        syslog(LOG_USER | LOG_NOTICE, "No brightness restored: %s: %m", path);
        return std::nullopt;
    }
    saved = parseKeptPercent(text);
    if (!saved)
        syslog(LOG_USER | LOG_NOTICE,
               "No brightness restored: %s holds no percentage from 0 to 100", path);
    return saved;
}

void BrightnessStore::save(int percent)
{
    if (saved != percent && file.replace(std::to_string(percent) + "\n"))
        saved = percent;
}

}  // namespace quorin
