// The sequence pattern and its checker: every byte lost or received twice is counted exactly,
// from the received bytes alone.

#include <gtest/gtest.h>

#include "target/trace/SequencePattern.h"
#include "trace_test_support.h"

namespace dravik::sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes stream(uint8_t port, uint64_t from, uint64_t to) {
    Bytes bytes;
    for (uint64_t j = from; j < to; ++j) {
        bytes.push_back(sequenceStreamByte(port, j));
    }
    return bytes;
}

void append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

TEST(SequencePattern, PacketsCarryTheirNumber) {
    EXPECT_EQ(tracetest::hex(stream(0, 0, 15)), "03 00 00 00 00 03 01 00 00 00 03 02 00 00 00");
    EXPECT_EQ(tracetest::hex(stream(2, 5 * 0x01020304ull, 5 * 0x01020304ull + 5)),
              "13 04 03 02 01");
}

TEST(SequenceChecker, CleanStreamMatchesEverything) {
    SequenceChecker checker;
    checker.feed(stream(0, 0, 5000));
    EXPECT_EQ(checker.received(), 5000u);
    EXPECT_EQ(checker.matched(), 5000u);
    EXPECT_EQ(checker.lost(), 0u);
    EXPECT_EQ(checker.extra(), 0u);
    EXPECT_EQ(checker.reached(), 5000u);
}

struct Disturbance {
    const char* name;
    uint64_t at;      // stream index where it happens
    uint64_t lost;    // bytes dropped there
    uint64_t repeat;  // bytes before `at` sent again there
};

TEST(SequenceChecker, CountsLossAndDuplicationExactly) {
    const Disturbance cases[] = {
        {"one byte lost", 1002, 1, 0},           {"a header lost", 1000, 1, 0},
        {"a zero among zeros lost", 1003, 1, 0}, {"a packet lost", 1000, 5, 0},
        {"an odd run lost", 1001, 13, 0},        {"a long run lost", 777, 4000, 0},
        {"one byte twice", 1003, 0, 1},          {"a header twice", 1001, 0, 1},
        {"a packet twice", 1000, 0, 5},          {"an odd run twice", 1002, 0, 17},
        {"a long run twice", 2000, 0, 1500},     {"at the very start", 0, 3, 0},
    };
    for (const Disturbance& d : cases) {
        Bytes received = stream(0, 0, d.at);
        append(received, stream(0, d.at - d.repeat, d.at));
        append(received, stream(0, d.at + d.lost, d.at + d.lost + 3000));
        for (size_t chunk : {size_t{1}, size_t{7}, received.size()}) {
            SequenceChecker checker;
            for (size_t i = 0; i < received.size(); i += chunk) {
                checker.feed(received.data() + i, std::min(chunk, received.size() - i));
            }
            SCOPED_TRACE(d.name);
            EXPECT_EQ(checker.lost(), d.lost) << "chunk " << chunk;
            EXPECT_EQ(checker.extra(), d.repeat) << "chunk " << chunk;
            EXPECT_EQ(checker.matched(), d.at + 3000);
            EXPECT_EQ(checker.unplaced(), 0u);
            EXPECT_TRUE(checker.inStep());
        }
    }
}

TEST(SequenceChecker, OverflowShowsAsOneExtraByteAndALostPacket) {
    TraceConfig config;
    config.program = SequenceTraceProgram{60000, 0, 3000, false};  // 1.5 times the line's rate
    TraceUnit unit(config);
    tracetest::setUpSwo(unit);
    unit.advance(200000, tracetest::kRunning);
    SequenceChecker checker;
    const Bytes got = unit.takeSwo();
    ASSERT_EQ(unit.queuedBytes(), 0u);
    checker.feed(got);
    checker.finish();
    const TraceRecord& record = unit.record();
    ASSERT_GT(record.writesLost, 0u);
    EXPECT_EQ(checker.lost(), 5 * record.writesLost);
    EXPECT_EQ(checker.extra(), record.overflowPackets);
    EXPECT_EQ(checker.matched(), 5 * record.instrumentationPackets);
    EXPECT_EQ(checker.unplaced(), 0u);
}

TEST(SequenceChecker, FinishPlacesALastLonePacketOrCountsTheRestAsExtra) {
    Bytes received = stream(0, 0, 50);
    received.push_back(0x70);
    append(received, stream(0, 55, 60));
    SequenceChecker checker;
    checker.feed(received);
    EXPECT_EQ(checker.unplaced(), 6u);
    checker.finish();
    EXPECT_EQ(checker.lost(), 5u);
    EXPECT_EQ(checker.extra(), 1u);
    EXPECT_EQ(checker.matched(), 55u);

    SequenceChecker cut;
    cut.feed(stream(0, 0, 50));
    cut.feed(Bytes{0x70, 0x03, 0x0B});
    cut.finish();
    EXPECT_EQ(cut.extra(), 3u);
    EXPECT_EQ(cut.matched(), 50u);
}

TEST(SequenceChecker, GarbageIsCountedAsExtraOnceTheStreamIsFoundAgain) {
    Bytes received = stream(1, 0, 500);
    for (int i = 0; i < 37; ++i) {
        received.push_back(static_cast<uint8_t>(0xA7 ^ (i * 29)));
    }
    append(received, stream(1, 500, 1000));
    SequenceChecker checker(1);
    checker.feed(received);
    EXPECT_EQ(checker.extra(), 37u);
    EXPECT_EQ(checker.lost(), 0u);
    EXPECT_EQ(checker.matched(), 1000u);
}

}  // namespace
}  // namespace dravik::sim
