// The backlight path's pure part: a control text, as one turn reads it
// (at most 511 bytes into a zeroed 512-byte buffer), through the request,
// the level and the command bytes, and what the turn does with it.
//
// Input: the first byte splits the rest into the text read and the text
// applied last. Checked: the request is 0..100 and agrees with a reading
// of the number written independently of strtol, the level is 0..31 and
// 31 only for 100, the command is ESC '@' <'0'|'1'> <upper-case hex digit>
// 'i' and carries the level, a stop wins over everything and a text equal
// to the last applied one is never applied again.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "backlight/brightness_request.h"
#include "daemon/text_buffer.h"
#include "serial/controller_command.h"

namespace {

using quorin::kTextBufferSize;
using quorin::kTextMax;

void check(bool condition, const char* what)
{
    if (!condition) {
        (void)std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();  // libFuzzer saves the input as a crash
    }
}

// The request as the control file's rules state it: the decimal number at
// the start (blanks, then an optional sign, then digits); no digits read
// as 0, which counts only when the text starts with '0'; anything outside
// 0..100 asks for 100.
int referenceRequest(const char* text)
{
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p)) != 0)
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        value = value > 1000 ? value : value * 10 + (*p - '0');
    if (negative && value != 0)
        return 100;
    if (value > 100)
        return 100;
    if (value == 0)
        return text[0] == '0' ? 0 : 100;
    return static_cast<int>(value);
}

int hexValue(unsigned char digit)
{
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    check(digit >= 'A' && digit <= 'F', "level digit is 0-9 or upper-case A-F");
    return digit - 'A' + 10;
}

// A text as a turn reads it: a heap block of exactly 512 bytes, so that
// ASan sees any read past it.
std::unique_ptr<char[]> asReadText(const std::uint8_t* data, std::size_t size)
{
    std::unique_ptr<char[]> text(new char[kTextBufferSize]());
    std::memcpy(text.get(), data, size < kTextMax ? size : kTextMax);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t split = size > 1 ? data[0] % size : 0;
    const auto text = asReadText(data + 1, split);
    const auto last = asReadText(data + 1 + split, size - 1 - split);

    const int request = quorin::parseBrightnessRequest(text.get());
    check(request >= 0 && request <= 100, "request is 0..100");
    check(request == referenceRequest(text.get()), "request is the number at the start");

    const int level = quorin::brightnessLevel(request);
    check(level >= 0 && level <= quorin::kBrightnessLevelMax, "level is 0..31");
    check((level == quorin::kBrightnessLevelMax) == (request == 100), "only 100 gives 31");

    unsigned char command[quorin::kCommandSize] = {0x1B, 0x40, '1', 'F', 'i'};
    quorin::setCommandLevel(command, level);
    check(command[0] == 0x1B && command[1] == '@' && command[4] == 'i', "command frame");
    check(command[2] == '0' || command[2] == '1', "high digit is 0 or 1");
    check(hexValue(command[2]) * 16 + hexValue(command[3]) == level, "command carries the level");

    const quorin::ControlAction action = quorin::classifyControlText(text.get(), last.get());
    const bool stop = std::strstr(text.get(), "exit") != nullptr;
    check((action == quorin::ControlAction::stop) == stop, "a stop exactly when 'exit' is there");
    if (!stop && (text[0] == '\0' || std::strcmp(text.get(), last.get()) == 0))
        check(action == quorin::ControlAction::none, "an empty or repeated text does nothing");
    if (!stop)
        check(quorin::classifyControlText(text.get(), text.get()) == quorin::ControlAction::none,
              "the text just applied is not applied again");
    return 0;
}
