#include "serial/frame_buffer.h"

#include <cstring>

#include "daemon/text_buffer.h"
#include "touch/frame_decoder.h"

namespace quorin {

std::size_t roomForNextRead(const char* frameText)
{
    return kTextMax - std::strlen(frameText);
}

void appendReceived(char* frameText, const char* bytes, std::size_t count)
{
    std::size_t length = std::strlen(frameText);
    for (std::size_t i = 0; i < count && length < kTextMax; ++i) {
        if (bytes[i] != '\0')
            frameText[length++] = bytes[i];
    }
    frameText[length] = '\0';
}

std::size_t keepRoomForNextRead(char* frameText)
{
    const std::size_t length = std::strlen(frameText);
    if (length < kTextMax)
        return 0;
    // The decoder has already consumed every complete record, so the first
    // ESC left starts the only record that may still complete.
    const char* start = std::strchr(frameText, kEsc);
    const std::size_t kept = start ? length - static_cast<std::size_t>(start - frameText) : 0;
    std::memmove(frameText, start ? start : frameText, kept);
    std::memset(frameText + kept, 0, kTextBufferSize - kept);
    return length - kept;
}

}  // namespace quorin
