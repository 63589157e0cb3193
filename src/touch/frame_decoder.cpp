#include "touch/frame_decoder.h"

#include <cstring>

#include "daemon/text_buffer.h"
#include "touch/bad_record_log.h"

namespace quorin {

namespace {

constexpr std::size_t kXOffset = 2;
constexpr std::size_t kYOffset = 5;
constexpr std::size_t kContactOffset = 8;
constexpr std::size_t kEndOffset = 10;

// Three hex digits, most significant first; -1 when any is not a digit.
int positionAt(const char* digits)
{
    int value = 0;
    for (int i = 0; i < 3; ++i) {
        const int digit = hexDigitValue(digits[i]);
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

bool isWellFormed(const char* record)
{
    return record[kEndOffset] == 't' && positionAt(record + kXOffset) >= 0 &&
           positionAt(record + kYOffset) >= 0;
}

// Removes the first `count` of the `length` characters and clears the
// bytes freed behind the text that moves to the front.
void dropFront(char* frameText, std::size_t length, std::size_t count, BadRecordLog& reports)
{
    std::memmove(frameText, frameText + count, length - count);
    std::memset(frameText + length - count, 0, kTextBufferSize - (length - count));
    reports.dropped(count);
}

void writeReportCharacter(std::ostream& report, char c)
{
    if (c == 't' || (c >= '!' && c <= 'Z'))
        report << c;
    else
        report << '[' << static_cast<int>(static_cast<signed char>(c)) << ']';
}

}  // namespace

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

void writeBadFrameReport(std::ostream& report, const char* frameText, std::size_t length,
                         std::size_t start)
{
    report << "Buf len: " << length << "| startpos: " << start << "- bad" << std::endl;
    for (std::size_t i = 0; i < length; ++i)
        writeReportCharacter(report, frameText[i]);
    report << std::endl;
}

std::optional<TouchEventBatch> decodeFrame(char* frameText, bool& synced, BadRecordLog& reports)
{
    for (;;) {
        const char* esc = std::strchr(frameText, kEsc);
        if (!esc)
            return std::nullopt;
        const std::size_t length = std::strlen(frameText);
        const std::size_t start = static_cast<std::size_t>(esc - frameText);
        if (length - start < kFrameLength)
            return std::nullopt;
        if (!synced && length >= kStartupDiscardLength) {
            dropFront(frameText, length, length, reports);
            synced = true;
            return std::nullopt;
        }
        if (!isWellFormed(esc)) {
            reports.rejected(frameText, length, start);
            dropFront(frameText, length, start + 1, reports);
            continue;
        }
        const TouchEventBatch batch = makeTouchEventBatch(
            positionAt(esc + kXOffset), positionAt(esc + kYOffset), esc[kContactOffset] == '0');
        dropFront(frameText, length, start + kFrameLength, reports);
        return batch;
    }
}

}  // namespace quorin
