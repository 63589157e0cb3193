// The touch path's pure part, fed arbitrary bytes in arbitrary chunkings:
// per read exactly what the receive loop does (append at most the room it
// asked for, decode until nothing comes, keep room for the next read).
//
// Input layout: the chunk sizes come from the tail of the input, the bytes
// from its head (FuzzedDataProvider), so that mutating one does not shift
// the other. The head is split into garbage and a part that describes
// well-formed records, which are sent after the garbage.
//
// Checked on every read: both 512-byte buffers are exact heap blocks (ASan
// sees any byte outside them), the frame buffer stays NUL-terminated with
// at most 511 characters, and every batch is X, Y, touch key, report with
// X and Y in 0..4095 and the key 0 or 1. The report limit's clock stands
// still, so whatever the input, the log gets at most one burst of
// bad-record reports.
//
// The oracle for the records behind the garbage, and why it holds:
// - It applies only once the start-up discard has happened before the
//   first record byte is appended: the discard clears the whole buffer,
//   records included, by design.
// - NULs are dropped on append, and a good record has no NUL and no ESC but
//   its first character, so it reaches the buffer whole and nothing inside
//   it can start another record.
// - Reads never bring more than the buffer has room for, so no received
//   character is lost; the buffer-full cut keeps text from the first ESC,
//   which is the start of the only record that can still complete.
// - The only way garbage can reach into the records is an ESC among the
//   last ten characters of the garbage (after NULs are dropped): a record
//   starting there takes its eleventh character from the first good record.
//   If that phantom is well-formed it is decoded and swallows the head of
//   the first good record; if not, it is dropped and the good record is
//   decoded. It can never reach the second good record, which starts at
//   least eleven characters behind the first one's ESC. An ESC earlier in
//   the garbage starts a record that ends inside the garbage.
// So: with no ESC in the garbage's last ten characters every good record is
// decoded, in order, and nothing after them; with one there, at least every
// record but the first is.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "daemon/text_buffer.h"
#include "serial/frame_buffer.h"
#include "touch/bad_record_log.h"
#include "touch/frame_decoder.h"

namespace {

using quorin::kEsc;
using quorin::kFrameLength;
using quorin::kTextBufferSize;
using quorin::kTextMax;

struct Touch {
    int x;
    int y;
    int touched;
    bool operator==(const Touch& other) const
    {
        return x == other.x && y == other.y && touched == other.touched;
    }
};

quorin::ReportLimit::Clock::time_point stillClock()
{
    return {};
}

[[noreturn]] void fail(const char* what)
{
    // abort() makes libFuzzer save the input as a crash.
    (void)std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void check(bool condition, const char* what)
{
    if (!condition)
        fail(what);
}

Touch checkedTouch(const quorin::TouchEventBatch& batch)
{
    check(batch[0].type == EV_ABS && batch[0].code == ABS_X, "event 1 is ABS_X");
    check(batch[1].type == EV_ABS && batch[1].code == ABS_Y, "event 2 is ABS_Y");
    check(batch[2].type == EV_KEY && batch[2].code == BTN_TOUCH, "event 3 is BTN_TOUCH");
    check(batch[3].type == EV_SYN && batch[3].code == SYN_REPORT && batch[3].value == 0,
          "event 4 is SYN_REPORT 0");
    check(batch[0].value >= 0 && batch[0].value <= quorin::kAxisMax, "X within 0..4095");
    check(batch[1].value >= 0 && batch[1].value <= quorin::kAxisMax, "Y within 0..4095");
    check(batch[2].value == 0 || batch[2].value == 1, "BTN_TOUCH is 0 or 1");
    return {batch[0].value, batch[1].value, batch[2].value};
}

void checkTerminated(const char* frameText)
{
    const void* end = std::memchr(frameText, '\0', kTextBufferSize);
    check(end != nullptr, "frame buffer NUL-terminated");
    check(static_cast<const char*>(end) - frameText <= static_cast<std::ptrdiff_t>(kTextMax),
          "frame buffer holds at most 511 characters");
}

// A character for the places of a record that are not examined: anything
// but NUL (lost on append) and ESC (see the oracle above).
char freeCharacter(std::uint8_t byte)
{
    return byte == 0 || byte == static_cast<std::uint8_t>(kEsc) ? 'x' : static_cast<char>(byte);
}

void appendHex3(std::vector<char>& out, int value)
{
    static const char digits[] = "0123456789ABCDEF";
    out.push_back(digits[(value >> 8) & 0xF]);
    out.push_back(digits[(value >> 4) & 0xF]);
    out.push_back(digits[value & 0xF]);
}

// Each 5 bytes of the description make one record.
std::vector<Touch> makeRecords(const std::vector<std::uint8_t>& description,
                               std::vector<char>& stream)
{
    std::vector<Touch> touches;
    for (std::size_t i = 0; i + 5 <= description.size(); i += 5) {
        const std::uint8_t* d = &description[i];
        const Touch touch{d[0] | (d[1] & 0xF) << 8, d[2] | (d[1] >> 4) << 8,
                          (d[3] & 1) != 0 ? 1 : 0};
        stream.push_back(kEsc);
        stream.push_back(freeCharacter(d[4]));
        appendHex3(stream, touch.x);
        appendHex3(stream, touch.y);
        stream.push_back(touch.touched != 0 ? '0' : freeCharacter(d[3] == '0' ? '1' : d[3]));
        stream.push_back(freeCharacter(static_cast<std::uint8_t>(d[4] ^ d[3])));
        stream.push_back('t');
        touches.push_back(touch);
    }
    return touches;
}

bool escInLastTenCharacters(const std::vector<char>& garbage)
{
    std::size_t seen = 0;
    for (auto c = garbage.rbegin(); c != garbage.rend() && seen < kFrameLength - 1; ++c) {
        if (*c == '\0')
            continue;
        if (*c == kEsc)
            return true;
        ++seen;
    }
    return false;
}

struct FramePath {
    std::unique_ptr<char[]> readBuffer{new char[kTextBufferSize]()};
    std::unique_ptr<char[]> frameText{new char[kTextBufferSize]()};
    bool synced = false;
    std::ostringstream log;
    quorin::BadRecordLog reports{log, stillClock};
    std::vector<Touch> touches;

    // What the next read asks for; never nothing, or the loop would spin.
    std::size_t room() const
    {
        const std::size_t room = quorin::roomForNextRead(frameText.get());
        check(room > 0 && room <= kTextMax, "the next read has room, and no more than 511");
        return room;
    }

    // One completed read of `count` bytes, as the receive loop handles it.
    void receive(const char* bytes, std::size_t count)
    {
        check(count <= room(), "read within its room");
        if (count > 0)
            std::memcpy(readBuffer.get(), bytes, count);
        readBuffer[count] = '\0';
        quorin::appendReceived(frameText.get(), readBuffer.get(), count);
        checkTerminated(frameText.get());
        while (const auto batch = quorin::decodeFrame(frameText.get(), synced, reports)) {
            touches.push_back(checkedTouch(*batch));
            checkTerminated(frameText.get());
        }
        reports.dropped(quorin::keepRoomForNextRead(frameText.get()));
        checkTerminated(frameText.get());
    }

    // A report is two lines; their text is the golden tests' business.
    void checkLogBounded() const
    {
        const std::string text = log.str();
        const long lines = std::count(text.begin(), text.end(), '\n');
        check(lines <= 2L * quorin::kReportBurst, "at most one burst of reports");
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    std::vector<std::uint16_t> chunkSizes(input.ConsumeIntegralInRange<std::size_t>(1, 8));
    for (auto& chunkSize : chunkSizes)
        chunkSize = input.ConsumeIntegralInRange<std::uint16_t>(0, kTextMax);
    const auto garbageSize = input.ConsumeIntegralInRange<std::size_t>(0, size);
    const std::vector<char> garbage = input.ConsumeBytes<char>(garbageSize);
    std::vector<char> stream = garbage;
    const std::vector<Touch> expected =
        makeRecords(input.ConsumeRemainingBytes<std::uint8_t>(), stream);

    FramePath path;
    bool recordsStarted = false;
    bool syncedBeforeRecords = false;
    std::size_t touchesBeforeRecords = 0;
    std::size_t sent = 0;
    for (std::size_t turn = 0; sent < stream.size(); ++turn) {
        std::size_t count = chunkSizes[turn % chunkSizes.size()];
        if (count == 0) {
            path.receive(nullptr, 0);  // a failed read brings nothing
            count = 1;
        }
        count = std::min({count, path.room(), stream.size() - sent});
        // The start-up discard clears records with everything else: the
        // oracle needs it to have happened before the read that brings
        // the first record byte.
        if (!recordsStarted && sent + count > garbage.size()) {
            recordsStarted = true;
            syncedBeforeRecords = path.synced;
            touchesBeforeRecords = path.touches.size();
        }
        path.receive(stream.data() + sent, count);
        sent += count;
    }
    path.checkLogBounded();
    if (!recordsStarted || !syncedBeforeRecords)
        return 0;

    // Batches made of garbage may come first; the records must end the list.
    const std::size_t decoded = path.touches.size() - touchesBeforeRecords;
    const std::size_t guaranteed = expected.size() - (escInLastTenCharacters(garbage) ? 1 : 0);
    check(decoded >= guaranteed, "every record behind the garbage decoded");
    check(std::equal(expected.end() - static_cast<std::ptrdiff_t>(guaranteed), expected.end(),
                     path.touches.end() - static_cast<std::ptrdiff_t>(guaranteed)),
          "the records behind the garbage decoded in order, nothing after them");
    return 0;
}
