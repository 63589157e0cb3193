#pragma once

#include <cstddef>
#include <optional>
#include <ostream>

#include "touch/touch_event_batch.h"

namespace quorin {

// A touch record: ESC, any character, three hex digits of X, three of Y,
// the contact state ('0' is touched), any character, 't'.
constexpr char kEsc = 0x1B;
constexpr std::size_t kFrameLength = 11;

// Until the first discard, a buffer this long holding a complete record is
// text that was pending on the line before the daemon started.
constexpr std::size_t kStartupDiscardLength = 17;

// Value of a hex digit ('0'-'9', 'A'-'F', 'a'-'f'), or -1 for any other
// character.
int hexDigitValue(char c);

class BadRecordLog;

// Takes the first complete record out of frameText and returns its events.
// A malformed record goes to `reports`, its ESC is dropped with everything
// in front of it, and decoding goes on behind it. Returns nothing once no
// complete record is left, or at the one-time start-up discard. `reports`
// hears of every character that leaves the buffer.
std::optional<TouchEventBatch> decodeFrame(char* frameText, bool& synced, BadRecordLog& reports);

// The two-line report of a malformed record at `start` in the buffer.
void writeBadFrameReport(std::ostream& report, const char* frameText, std::size_t length,
                         std::size_t start);

}  // namespace quorin
