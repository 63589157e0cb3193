#include "backlight/brightness_request.h"

#include <cstdlib>
#include <cstring>

#include "serial/controller_command.h"

namespace quorin {

int parseBrightnessRequest(const char* text)
{
    const long number = std::strtol(text, nullptr, 10);
    if (number < 0 || number > 100)
        return 100;
    if (number == 0)
        return text[0] == '0' ? 0 : 100;
    return static_cast<int>(number);
}

int brightnessLevel(int percent)
{
    return kBrightnessLevelMax * percent / 100;
}

ControlAction classifyControlText(const char* text, const char* lastApplied)
{
    if (std::strstr(text, "exit"))
        return ControlAction::stop;
    if (text[0] == '\0' || std::strcmp(text, lastApplied) == 0)
        return ControlAction::none;
    return ControlAction::apply;
}

}  // namespace quorin
