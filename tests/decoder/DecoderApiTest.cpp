// The ways of taking packets out of the decoder, and its counters.
#include <gtest/gtest.h>

#include <vector>

#include "DecoderTestSupport.h"
#include "TraceFixture.h"

namespace dravik::itm::test {
namespace {

using K = PacketKind;

std::vector<Packet> decodeInBatches(const Bytes& bytes, size_t capacity, size_t chunk) {
    Decoder decoder;
    std::vector<Packet> packets;
    std::vector<Packet> slots(capacity);
    for (size_t offset = 0; offset < bytes.size(); offset += chunk) {
        const size_t end = std::min(bytes.size(), offset + chunk);
        size_t at = offset;
        do {
            const BatchResult r =
                decoder.decode(bytes.data() + at, end - at, slots.data(), capacity);
            EXPECT_LE(r.packets, capacity);
            EXPECT_LE(r.bytesConsumed, end - at);
            // Stopping early only happens on a full array.
            EXPECT_TRUE(r.bytesConsumed == end - at || r.packets == capacity);
            packets.insert(packets.end(), slots.begin(),
                           slots.begin() + static_cast<std::ptrdiff_t>(r.packets));
            at += r.bytesConsumed;
        } while (at < end);
    }
    decoder.finish();
    EXPECT_EQ(decoder.stats().bytes, bytes.size());
    EXPECT_EQ(decoder.stats().totalPackets(), packets.size());
    return packets;
}

TEST(DecoderApiTest, BatchesOfAnySizeGiveTheSamePackets) {
    const Trace trace = realisticTrace();
    for (size_t capacity : {1u, 2u, 3u, 7u, 64u}) {
        for (size_t chunk : {1u, 5u, 13u, 4096u}) {
            SCOPED_TRACE(::testing::Message() << "capacity " << capacity << " chunk " << chunk);
            EXPECT_EQ(decodeInBatches(trace.bytes, capacity, chunk), trace.packets);
        }
    }
}

TEST(DecoderApiTest, BatchWithNoRoomTakesNothing) {
    Decoder decoder;
    const uint8_t bytes[] = {0x01, 0x41};
    const BatchResult r = decoder.decode(bytes, sizeof bytes, nullptr, 0);
    EXPECT_EQ(r.packets, 0u);
    EXPECT_EQ(r.bytesConsumed, 0u);
    EXPECT_EQ(decoder.stats().bytes, 0u);
    EXPECT_EQ(decoder.heldBytes(), 0u);
}

TEST(DecoderApiTest, SinkReturningFalseStopsAfterThatPacket) {
    Decoder decoder;
    const uint8_t bytes[] = {0x01, 0x41, 0x70, 0x01, 0x42};
    std::vector<Packet> packets;
    auto takeOne = [&](const Packet& p) {
        packets.push_back(p);
        return false;
    };
    EXPECT_EQ(decoder.feed(bytes, sizeof bytes, takeOne), 2u);
    EXPECT_EQ(decoder.feed(bytes + 2, 3, takeOne), 1u);
    EXPECT_EQ(decoder.feed(bytes + 3, 2, takeOne), 2u);
    EXPECT_EQ(packets, (std::vector<Packet>{Expect(K::Instrumentation).size(1).value('A'),
                                            Expect(K::Overflow),
                                            Expect(K::Instrumentation).size(1).value('B')}));
    EXPECT_EQ(decoder.stats().bytes, 5u);
}

// A stop while bytes from an earlier feed are still held: they come out first next time, and
// input is only counted as taken once decoding has reached it.
TEST(DecoderApiTest, StopInsideHeldBytesKeepsTheOrder) {
    Decoder decoder;
    std::vector<Packet> packets;
    auto takeOne = [&](const Packet& p) {
        packets.push_back(p);
        return false;
    };
    // B4 with six continued bytes is malformed; 81 82, 81 83 and 85 90 behind it are then
    // decoded again, one packet per call.
    const uint8_t first[] = {0xB4, 0x81, 0x82, 0x81, 0x83, 0x85};
    const uint8_t second[] = {0x90, 0x70};
    EXPECT_EQ(decoder.feed(first, sizeof first, takeOne), 6u);
    EXPECT_EQ(decoder.heldBytes(), 6u);
    EXPECT_EQ(decoder.feed(second, sizeof second, takeOne), 0u);
    EXPECT_EQ(decoder.heldBytes(), 3u);
    EXPECT_EQ(decoder.feed(second, sizeof second, takeOne), 0u);
    EXPECT_EQ(decoder.heldBytes(), 1u);
    EXPECT_EQ(decoder.feed(second, sizeof second, takeOne), 1u);
    EXPECT_EQ(decoder.heldBytes(), 0u);
    EXPECT_EQ(decoder.feed(second + 1, 1, takeOne), 1u);
    EXPECT_EQ(packets,
              (std::vector<Packet>{Expect(K::Instrumentation).port(16).size(1).value(0x82),
                                   Expect(K::Instrumentation).port(16).size(1).value(0x83),
                                   Expect(K::DataTraceValue).discriminator(16).size(1).value(0x90),
                                   Expect(K::Overflow)}));
    EXPECT_EQ(decoder.stats().bytes, 8u);
    EXPECT_EQ(decoder.stats().discardedBytes, 1u);
    EXPECT_EQ(decoder.stats().malformedPackets, 1u);
}

TEST(DecoderApiTest, EmptyFeedDoesNothing) {
    Decoder decoder;
    int calls = 0;
    EXPECT_EQ(decoder.feed(nullptr, 0, [&](const Packet&) { ++calls; }), 0u);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(decoder.stats().bytes, 0u);
}

TEST(DecoderApiTest, CountersAddUpOverAStream) {
    const Bytes bytes = {
        0x00, 0x00, 0x00, 0x00, 0x00, 0x80,        // sync
        0x70,                                      // overflow
        0x01, 0x41, 0x01, 0x42,                    // two characters
        0x04,                                      // reserved
        0x70,                                      // overflow
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80,  // sync
        0xC0, 0x81,                                // cut short
    };
    for (const Decoded& d : {decodeWhole(bytes), decodeByteByByte(bytes)}) {
        EXPECT_EQ(d.stats.bytes, bytes.size());
        EXPECT_EQ(d.stats.syncs(), 2u);
        EXPECT_EQ(d.stats.overflows(), 2u);
        EXPECT_EQ(d.stats.count(K::Instrumentation), 2u);
        EXPECT_EQ(d.stats.totalPackets(), 6u);
        EXPECT_EQ(d.stats.discardedBytes, 3u);
        EXPECT_EQ(d.stats.truncatedPackets, 1u);
        EXPECT_EQ(d.stats.malformedPackets, 0u);
        EXPECT_EQ(d.heldBeforeFinish, 2u);
    }
}

TEST(DecoderApiTest, ResetForgetsStreamAndCounters) {
    Decoder decoder;
    const uint8_t bytes[] = {0x28, 0x01, 0x41, 0x03, 0x01};
    decoder.feed(bytes, sizeof bytes, [](const Packet&) {});
    ASSERT_EQ(decoder.heldBytes(), 2u);
    ASSERT_EQ(decoder.stimulusPage(), 2u);
    decoder.reset();
    EXPECT_EQ(decoder.heldBytes(), 0u);
    EXPECT_EQ(decoder.stimulusPage(), 0u);
    EXPECT_EQ(decoder.stats().bytes, 0u);
    EXPECT_EQ(decoder.stats().totalPackets(), 0u);
}

}  // namespace
}  // namespace dravik::itm::test
