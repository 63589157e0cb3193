#include "serial/line_settings.h"

namespace quorin {

namespace {

bool evenParity(const termios& kept)
{
    return (kept.c_cflag & (PARENB | PARODD)) == PARENB;
}

bool at9600Baud(const termios& kept)
{
    return cfgetispeed(&kept) == B9600 && cfgetospeed(&kept) == B9600;
}

}  // namespace

std::vector<std::string> settingsNotKept(const termios& kept, int optionsSet)
{
    std::vector<std::string> dropped;
    if (optionsSet >= 1 && !evenParity(kept))
        dropped.emplace_back("even parity");
    if (optionsSet >= 1 && (kept.c_iflag & INPCK) == 0)
        dropped.emplace_back("input parity checking");
    if (optionsSet >= 2 && (kept.c_cflag & CSIZE) != CS8)
        dropped.emplace_back("8 data bits");
    if (optionsSet >= 3 && !at9600Baud(kept))
        dropped.emplace_back("9600 baud");
    return dropped;
}

std::string listed(const std::vector<std::string>& items)
{
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            text += i + 1 == items.size() ? " and " : ", ";
        text += items[i];
    }
    return text;
}

}  // namespace quorin
