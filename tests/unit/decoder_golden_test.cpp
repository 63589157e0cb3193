// Golden cases for the receive path: each file under data/decoder holds
// the reads the line delivers, a blank line, then what must come out.
//
//   synced: yes              (optional; the start-up discard already done)
//   read: <bytes>            one read; \e is ESC, \xNN any byte, \\ a backslash
//   wait: <seconds>          time passes before the next read
//
//   touch X Y T              one report written to the device
//   <report lines>           the bad-record report, verbatim
//   left: <bytes>            what stays in the frame buffer
//   synced: yes|no
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "daemon/text_buffer.h"
#include "serial/frame_buffer.h"
#include "touch/bad_record_log.h"
#include "touch/frame_decoder.h"

namespace quorin {
namespace {

std::string unescape(const std::string& text)
{
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            bytes += text[i];
        } else if (text[i + 1] == 'e') {
            bytes += kEsc;
            ++i;
        } else if (text[i + 1] == 'x') {
            bytes += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            bytes += text[++i];
        }
    }
    return bytes;
}

std::string escape(const std::string& bytes)
{
    std::ostringstream text;
    for (const char c : bytes) {
        if (c == kEsc)
            text << "\\e";
        else if (c == '\\')
            text << "\\\\";
        else if (c < ' ' || c > '~')
            text << "\\x" << std::hex << (static_cast<int>(c) & 0xFF) << std::dec;
        else
            text << c;
    }
    return text.str();
}

// A read, or a pause when `bytes` is empty.
struct Step {
    std::string bytes;
    std::chrono::seconds pause{0};
};

struct GoldenCase {
    bool synced = false;
    std::vector<Step> steps;
    std::string expected;
};

// The report limit's clock: it moves only at a wait.
ReportLimit::Clock::time_point goldenTime;
ReportLimit::Clock::time_point goldenClock()
{
    return goldenTime;
}

GoldenCase loadCase(const std::string& path)
{
    GoldenCase golden;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line) && !line.empty()) {
        if (line.rfind("read: ", 0) == 0)
            golden.steps.push_back({unescape(line.substr(6))});
        else if (line.rfind("wait: ", 0) == 0)
            golden.steps.push_back({"", std::chrono::seconds(std::stoi(line.substr(6)))});
        else if (line == "synced: yes")
            golden.synced = true;
    }
    std::ostringstream rest;
    rest << file.rdbuf();
    golden.expected = rest.str();
    return golden;
}

// What the receive loop does with each read, the read split where the
// loop would have asked for less.
std::string runReads(const GoldenCase& golden)
{
    char frameText[kTextBufferSize] = {};
    bool synced = golden.synced;
    std::ostringstream out;
    BadRecordLog reports(out, goldenClock);
    for (const Step& step : golden.steps) {
        goldenTime += step.pause;
        const std::string& read = step.bytes;
        for (std::size_t done = 0; done < read.size();) {
            const std::size_t count = std::min(roomForNextRead(frameText), read.size() - done);
            appendReceived(frameText, read.data() + done, count);
            done += count;
            while (const auto batch = decodeFrame(frameText, synced, reports))
                out << "touch " << (*batch)[0].value << ' ' << (*batch)[1].value << ' '
                    << (*batch)[2].value << '\n';
            reports.dropped(keepRoomForNextRead(frameText));
        }
    }
    out << "left: " << escape(frameText) << "\nsynced: " << (synced ? "yes" : "no") << '\n';
    return out.str();
}

std::vector<std::string> caseNames()
{
    std::vector<std::string> names;
    DIR* dir = opendir(QUORIN_TEST_DATA "/decoder");
    while (dirent* entry = dir ? readdir(dir) : nullptr) {
        const std::string name = entry->d_name;
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".case") == 0)
            names.push_back(name.substr(0, name.size() - 5));
    }
    if (dir)
        closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

class DecoderGolden : public testing::TestWithParam<std::string> {};

TEST_P(DecoderGolden, Matches)
{
    const GoldenCase golden = loadCase(QUORIN_TEST_DATA "/decoder/" + GetParam() + ".case");
    ASSERT_FALSE(golden.steps.empty()) << "a case without reads tests nothing";
    EXPECT_EQ(runReads(golden), golden.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, DecoderGolden, testing::ValuesIn(caseNames()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             return info.param;
                         });

TEST(DecoderGoldenData, CasesArePresent)
{
    EXPECT_GE(caseNames().size(), 10u);
}

}  // namespace
}  // namespace quorin
