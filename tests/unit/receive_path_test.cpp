// The frame buffer's bound and the receive path's promise: a record that
// arrives whole is decoded exactly once, whatever the chunking, the noise
// around it or the speed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "daemon/text_buffer.h"
#include "serial/frame_buffer.h"
#include "touch/bad_record_log.h"
#include "touch/frame_decoder.h"

namespace quorin {
namespace {

struct Touch {
    int x, y, touched;
    bool operator==(const Touch& other) const
    {
        return x == other.x && y == other.y && touched == other.touched;
    }
};

std::string record(const Touch& touch)
{
    char text[16];
    std::snprintf(text, sizeof text, "\x1b!%03X%03X%c!t", touch.x, touch.y,
                  touch.touched ? '0' : '1');
    return text;
}

// Drives the pure receive path as the daemon's read loop does.
class ReceivePath {
public:
    explicit ReceivePath(bool synced) : synced(synced) {}

    void deliver(const std::string& bytes, std::mt19937& random, std::size_t maxChunk)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            std::size_t chunk = std::uniform_int_distribution<std::size_t>(1, maxChunk)(random);
            chunk = std::min({chunk, bytes.size() - done, roomForNextRead(frameText)});
            read(bytes.data() + done, chunk);
            done += chunk;
        }
    }

    void read(const char* bytes, std::size_t count)
    {
        ASSERT_LE(count, roomForNextRead(frameText));
        appendReceived(frameText, bytes, count);
        while (const auto batch = decodeFrame(frameText, synced, badRecords))
            touches.push_back({(*batch)[0].value, (*batch)[1].value, (*batch)[2].value});
        badRecords.dropped(keepRoomForNextRead(frameText));
        ASSERT_GT(roomForNextRead(frameText), 0u) << "the next read must have room";
    }

    char frameText[kTextBufferSize] = {};
    bool synced;
    std::ostringstream reports;
    BadRecordLog badRecords{reports};
    std::vector<Touch> touches;
};

TEST(FrameBuffer, ReadsAskForExactlyTheRoomLeft)
{
    char frameText[kTextBufferSize] = {};
    EXPECT_EQ(roomForNextRead(frameText), 511u);
    const std::string text(500, 'x');
    appendReceived(frameText, text.data(), text.size());
    EXPECT_EQ(roomForNextRead(frameText), 11u);
}

TEST(FrameBuffer, AppendNeverPassesTheBoundEvenWhenAskedTo)
{
    char frameText[kTextBufferSize + 8];
    std::memset(frameText, '#', sizeof frameText);
    frameText[0] = '\0';
    const std::string text(600, 'x');
    appendReceived(frameText, text.data(), text.size());
    EXPECT_EQ(std::strlen(frameText), kTextMax);
    EXPECT_EQ(frameText[kTextBufferSize], '#') << "written past the buffer";
}

TEST(FrameBuffer, FullBufferKeepsOnlyTheUnfinishedRecord)
{
    char frameText[kTextBufferSize] = {};
    std::string text(505, 'n');
    text += "\x1b!1A3F";
    appendReceived(frameText, text.data(), text.size());
    EXPECT_EQ(keepRoomForNextRead(frameText), 505u);
    EXPECT_STREQ(frameText, "\x1b!1A3F");

    const std::string noise(511, 'n');
    std::memset(frameText, 0, sizeof frameText);
    appendReceived(frameText, noise.data(), noise.size());
    EXPECT_EQ(keepRoomForNextRead(frameText), 511u);
    EXPECT_STREQ(frameText, "") << "noise without ESC is dropped when the buffer is full";

    appendReceived(frameText, "abc", 3);
    EXPECT_EQ(keepRoomForNextRead(frameText), 0u);
    EXPECT_STREQ(frameText, "abc") << "a buffer with room is left alone";
}

TEST(ReceivePath, RecordAfterKilobytesOfNoiseWithoutEsc)
{
    std::mt19937 random(7);
    ReceivePath path(true);
    std::string noise;
    for (int i = 0; i < 4000; ++i)
        noise += static_cast<char>(std::uniform_int_distribution<int>(0x20, 0x7E)(random));
    path.deliver(noise + record({419, 4095, 1}), random, 512);
    ASSERT_EQ(path.touches.size(), 1u);
    EXPECT_EQ(path.touches[0], (Touch{419, 4095, 1}));
}

TEST(ReceivePath, RecordSplitAcrossAFullBufferSurvives)
{
    ReceivePath path(true);
    const std::string text = std::string(505, 'n') + record({1, 2, 1});
    path.read(text.data(), 511);
    path.read(text.data() + 511, text.size() - 511);
    ASSERT_EQ(path.touches.size(), 1u);
    EXPECT_EQ(path.touches[0], (Touch{1, 2, 1}));
}

// About 6 % of the records lose a character or get a wrong last one; every
// other record must come out once and in order, none of the broken ones.
TEST(ReceivePath, NoisyLineInRandomChunks)
{
    for (unsigned seed = 1; seed <= 20; ++seed) {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> axis(0, 4095), percent(0, 99), offset(0, 10);
        std::vector<Touch> sent;
        std::uint64_t rejected = 0;  // a record that lost its ESC is only noise
        std::string line;
        for (int i = 0; i < 1500; ++i) {
            const Touch touch{axis(random), axis(random), percent(random) < 50};
            std::string text = record(touch);
            const int fault = percent(random);
            if (fault < 3) {
                const int lost = offset(random);
                text.erase(static_cast<std::size_t>(lost), 1);
                rejected += lost != 0;
            } else if (fault < 6) {
                text.back() = 'u';
                ++rejected;
            } else {
                sent.push_back(touch);
            }
            line += text;
        }
        sent.push_back({1, 2, 1});  // completes a last record that lost a character
        line += record(sent.back());
        ReceivePath path(true);
        path.deliver(line, random, 64);
        EXPECT_EQ(path.touches, sent) << "seed " << seed;
        EXPECT_EQ(path.badRecords.badRecords(), rejected) << "seed " << seed;
    }
}

TEST(ReceivePath, BurstInFullSizeReadsLosesNothing)
{
    std::mt19937 random(3);
    std::string line;
    std::vector<Touch> sent;
    for (int i = 0; i < 5000; ++i) {
        sent.push_back({i % 4096, (i * 7) % 4096, i % 2});
        line += record(sent.back());
    }
    ReceivePath path(true);
    path.deliver(line, random, 512);
    EXPECT_EQ(path.touches, sent);
    EXPECT_EQ(path.reports.str(), "");
}

}  // namespace
}  // namespace quorin
