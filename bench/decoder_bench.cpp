// Records per second through the frame decoder alone, driven as the
// receive loop drives it: each read appends what fits, every complete
// record is decoded, then room is kept for the next read. Bad-record
// reports go to a stream that discards them, so the figures are decoding,
// not the log file's writes. Each pass has a report limit of its own, as a
// daemon meeting its first garbage: one burst of reports is formatted, the
// rest are only counted.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <random>
#include <streambuf>
#include <string>

#include "daemon/text_buffer.h"
#include "serial/frame_buffer.h"
#include "touch/bad_record_log.h"
#include "touch/frame_decoder.h"

namespace {

constexpr int kRecords = 20000;

class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

std::string record(std::mt19937& random, bool touched)
{
    std::uniform_int_distribution<int> position(0, quorin::kAxisMax);
    char text[16];
    std::snprintf(text, sizeof text, "\x1b!%03X%03X%c!t", position(random), position(random),
                  touched ? '0' : '1');
    return text;
}

// A bad line either gets the end of a record wrong or loses one of its
// characters, so the record runs into the next one's ESC.
std::string broken(std::string text, std::mt19937& random)
{
    if (random() % 2)
        text.back() = 'x';
    else
        text.erase(random() % text.size(), 1);
    return text;
}

std::string lineText(double brokenShare)
{
    std::mt19937 random(8);
    std::bernoulli_distribution breaks(brokenShare);
    std::string text;
    for (int i = 0; i < kRecords; ++i) {
        const std::string one = record(random, i % 2 == 0);
        text += breaks(random) ? broken(one, random) : one;
    }
    return text;
}

// One pass over the whole line in reads of at most `readSize` characters;
// returns the number of records decoded.
long decodeLine(const std::string& line, std::size_t readSize, std::ostream& reports)
{
    char frameText[quorin::kTextBufferSize] = {};
    bool synced = true;
    quorin::BadRecordLog badRecords(reports);
    long decoded = 0;
    for (std::size_t done = 0; done < line.size();) {
        const std::size_t count =
            std::min({readSize, line.size() - done, quorin::roomForNextRead(frameText)});
        quorin::appendReceived(frameText, line.data() + done, count);
        done += count;
        // A mutable batch: newer releases of the library deprecate keeping
        // a const value from being optimised away.
        while (auto batch = quorin::decodeFrame(frameText, synced, badRecords)) {
            benchmark::DoNotOptimize(*batch);
            ++decoded;
        }
        badRecords.dropped(quorin::keepRoomForNextRead(frameText));
    }
    return decoded;
}

void runDecoder(benchmark::State& state, double brokenShare)
{
    const std::string line = lineText(brokenShare);
    const auto readSize = static_cast<std::size_t>(state.range(0));
    NullBuffer discard;
    std::ostream reports(&discard);
    long decoded = 0;
    for (auto _ : state)
        decoded += decodeLine(line, readSize, reports);
    state.SetItemsProcessed(decoded);
    state.counters["records_per_pass"] =
        static_cast<double>(decoded) / static_cast<double>(state.iterations());
}

void cleanLine(benchmark::State& state)
{
    runDecoder(state, 0.0);
}

void noisyLine(benchmark::State& state)
{
    runDecoder(state, 0.06);
}

// 11: one record per read, as at 9600 baud; 511: the largest read, as in a
// burst.
BENCHMARK(cleanLine)->Arg(11)->Arg(511)->Unit(benchmark::kMillisecond);
BENCHMARK(noisyLine)->Arg(11)->Arg(511)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
