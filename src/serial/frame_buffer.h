#pragma once

#include <cstddef>

namespace quorin {

// How many characters the next read may bring without passing the bound of
// the frame buffer; reads never ask for more, so no text is ever dropped
// for lack of room.
std::size_t roomForNextRead(const char* frameText);

// Appends received bytes to the frame buffer. A NUL stands for a character
// lost to a parity or framing error: it is skipped so that the record it
// broke is rejected as malformed while the rest of the read is kept.
void appendReceived(char* frameText, const char* bytes, std::size_t count);

// Called when no record can be decoded from the buffer. A full buffer then
// holds noise and at most an unfinished record at its end: keep only that
// record (from its ESC), so that the next read has room. Returns how many
// characters left the front.
[[nodiscard]] std::size_t keepRoomForNextRead(char* frameText);

}  // namespace quorin
