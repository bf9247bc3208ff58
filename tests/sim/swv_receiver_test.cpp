// The probe's SWV receiver buffer: arrival order across wrap-around, loss when full, the stopped
// state, restarts and the counters that benchmarks read.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "DravikBench/SwvReceiver.h"

namespace dravik::sim::testing {
namespace {

std::vector<uint8_t> Ramp(size_t count, uint8_t first = 0) {
    std::vector<uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

void Feed(SwvReceiver& receiver, const std::vector<uint8_t>& bytes) {
    receiver.feed(bytes.data(), bytes.size());
}

std::vector<uint8_t> Take(SwvReceiver& receiver, size_t count) {
    std::vector<uint8_t> out(count);
    out.resize(receiver.take(out.data(), count));
    return out;
}

TEST(SwvReceiver, PowerUpStateIsStoppedWithoutBuffer) {
    SwvReceiver receiver;
    EXPECT_FALSE(receiver.running());
    EXPECT_EQ(0u, receiver.rateBps());
    EXPECT_EQ(0u, receiver.capacity());
    Feed(receiver, Ramp(4));
    EXPECT_EQ(0u, receiver.pending());
    EXPECT_EQ(0u, receiver.counters().received);
}

TEST(SwvReceiver, KeepsArrivalOrderAcrossWrapAround) {
    SwvReceiver receiver;
    receiver.start(2000000, 10);
    Feed(receiver, Ramp(3));
    std::vector<uint8_t> all;
    // Three bytes stay pending while feeds and takes of 7 walk the 10-byte ring round several
    // times.
    for (uint8_t next = 3; next < 3 + 8 * 7; next = uint8_t(next + 7)) {
        Feed(receiver, Ramp(7, next));
        const std::vector<uint8_t> got = Take(receiver, 7);
        all.insert(all.end(), got.begin(), got.end());
    }
    const std::vector<uint8_t> rest = Take(receiver, receiver.pending());
    all.insert(all.end(), rest.begin(), rest.end());
    EXPECT_EQ(Ramp(59), all);
    EXPECT_EQ(59u, receiver.counters().received);
    EXPECT_EQ(59u, receiver.counters().delivered);
    EXPECT_EQ(0u, receiver.counters().lost);
}

TEST(SwvReceiver, FullBufferDropsNewBytesAndCountsThem) {
    SwvReceiver receiver;
    receiver.start(115200, 8);
    Feed(receiver, Ramp(5));
    EXPECT_EQ((std::vector<uint8_t>{0, 1}), Take(receiver, 2));
    Feed(receiver, Ramp(9, 5));  // 5 fit (3 pending + 5 = 8), 4 are lost
    EXPECT_EQ(8u, receiver.pending());
    EXPECT_EQ((std::vector<uint8_t>{2, 3, 4, 5, 6, 7, 8, 9}), Take(receiver, 8));
    EXPECT_EQ(14u, receiver.counters().received);
    EXPECT_EQ(10u, receiver.counters().delivered);
    EXPECT_EQ(4u, receiver.counters().lost);
}

TEST(SwvReceiver, ZeroSizedBufferLosesEverything) {
    SwvReceiver receiver;
    receiver.start(2000000, 0);
    Feed(receiver, Ramp(3));
    EXPECT_EQ(0u, receiver.pending());
    EXPECT_EQ(3u, receiver.counters().lost);
    EXPECT_TRUE(Take(receiver, 3).empty());
}

TEST(SwvReceiver, TakeNeverWritesBeyondWhatIsPending) {
    SwvReceiver receiver;
    receiver.start(2000000, 16);
    Feed(receiver, {0xA1, 0xA2});
    std::vector<uint8_t> out(6, 0xEE);
    EXPECT_EQ(2u, receiver.take(out.data(), out.size()));
    EXPECT_EQ((std::vector<uint8_t>{0xA1, 0xA2, 0xEE, 0xEE, 0xEE, 0xEE}), out);
    EXPECT_EQ(1u, receiver.counters().shortReads);
    EXPECT_EQ(0u, receiver.take(out.data(), 0));
    EXPECT_EQ(1u, receiver.counters().shortReads) << "asking for nothing is not short";
}

TEST(SwvReceiver, StopKeepsPendingBytesAndRestartDiscardsThem) {
    SwvReceiver receiver;
    receiver.start(2000000, 16);
    Feed(receiver, Ramp(4));
    receiver.stop();
    Feed(receiver, Ramp(4, 4));
    EXPECT_EQ(4u, receiver.pending());
    EXPECT_EQ(4u, receiver.counters().received);
    EXPECT_EQ(2000000u, receiver.rateBps());

    receiver.start(1000000, 32);
    EXPECT_EQ(0u, receiver.pending());
    EXPECT_EQ(32u, receiver.capacity());
    EXPECT_EQ(1000000u, receiver.rateBps());
    EXPECT_EQ(4u, receiver.counters().discarded);
    Feed(receiver, {9});
    EXPECT_EQ((std::vector<uint8_t>{9}), Take(receiver, 1));
}

TEST(SwvReceiver, ResetReturnsToPowerUp) {
    SwvReceiver receiver;
    receiver.start(2000000, 16);
    Feed(receiver, Ramp(20));
    receiver.reset();
    EXPECT_FALSE(receiver.running());
    EXPECT_EQ(0u, receiver.pending());
    EXPECT_EQ(0u, receiver.capacity());
    EXPECT_EQ(0u, receiver.rateBps());
    EXPECT_EQ(0u, receiver.counters().received);
    EXPECT_EQ(0u, receiver.counters().lost);
}

}  // namespace
}  // namespace dravik::sim::testing
