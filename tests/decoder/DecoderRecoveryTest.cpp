// Garbage, lost bytes, malformed payloads and a stream cut short.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "DecoderTestSupport.h"
#include "TraceFixture.h"

namespace dravik::itm::test {
namespace {

using K = PacketKind;

const Packet kCharA = Expect(K::Instrumentation).size(1).value('A');
const Packet kCharB = Expect(K::Instrumentation).size(1).value('B');
const Packet kOverflow = Expect(K::Overflow);

// Reserved header bytes: each is dropped alone and the packet after it decodes intact.
TEST(DecoderRecoveryTest, ReservedHeaderByteIsDroppedAlone) {
    const uint8_t reserved[] = {
        0x04, 0x14, 0x24, 0x44, 0x84, 0xA4, 0xC4, 0xE4, 0xF4,  // neither GTS1 nor GTS2
        0x90, 0xA0, 0xB0,                                      // bit 7 set, no timestamp
        0x80,                                                  // sync end without zeros
        0x06, 0x07,                                            // event counter not 1 byte
        0x0D, 0x0F,                                            // exception trace not 2 bytes
        0x16,                                                  // PC sample of 2 bytes
        0x1D, 0x3F,                                            // discriminators 3 and 7
        0x45, 0x46,                                            // data trace PC not 4 bytes
        0x4D, 0x4F,                                            // data trace address not 2 bytes
        0xC5, 0xFF,                                            // discriminators 24 and 31
    };
    for (uint8_t bad : reserved) {
        SCOPED_TRACE(::testing::Message() << "byte 0x" << std::hex << unsigned(bad));
        expectSameForEveryChunking({0x01, 0x41, bad, 0x01, 0x42}, {kCharA, kCharB}, 1);
    }
}

TEST(DecoderRecoveryTest, GarbageRunCountsEachByte) {
    expectSameForEveryChunking({0x90, 0xFF, 0x04, 0x04, 0x70, 0xA0, 0x01, 0x41},
                               {kOverflow, kCharA}, 5);
}

struct MalformedCase {
    const char* what;
    Bytes bytes;
    std::vector<Packet> expected;
    uint64_t discarded;
};

// The header is dropped and the bytes after it are decoded again as headers.
TEST(DecoderRecoveryTest, MalformedPayloadDropsOnlyTheHeader) {
    const std::vector<MalformedCase> cases = {
        {"exception trace with function 0",
         {0x0E, 0x05, 0x00, 0x01, 0x41},
         {Expect(K::EventCounter).size(1), kCharA},
         1},
        {"exception trace with reserved bits",
         {0x0E, 0x0F, 0x50},
         {Expect(K::LocalTimestamp2).value(5)},
         2},
        {"event counter with reserved bits",
         {0x05, 0x40, 0x70},
         {Expect(K::LocalTimestamp2).value(4), kOverflow},
         1},
        {"PC sleep with a non-zero payload", {0x15, 0x70}, {kOverflow}, 1},
        {"local timestamp 1 longer than 4 bytes",
         {0xC0, 0x90, 0xA0, 0xB0, 0x84, 0x70},
         {kOverflow},
         5},
        {"global timestamp 1 longer than 4 bytes",
         {0x94, 0x90, 0xA0, 0xB0, 0x84, 0x70},
         {kOverflow},
         5},
        {"global timestamp 2 longer than 6 bytes",
         {0xB4, 0x90, 0xA0, 0xB0, 0x84, 0xC4, 0xE4, 0x70},
         {kOverflow},
         7},
    };
    for (const MalformedCase& c : cases) {
        SCOPED_TRACE(c.what);
        expectSameForEveryChunking(c.bytes, c.expected, c.discarded);
        EXPECT_EQ(decodeWhole(c.bytes).stats.malformedPackets, 1u);
    }
}

// Two malformed headers held across a cut are decoded again together with the overflow after
// them, which must still reset the page.
TEST(DecoderRecoveryTest, OverflowAfterMalformedHeadersResetsThePage) {
    const Bytes bytes = {0x28, 0x0E, 0x05, 0x70, 0x01, 0x42};
    expectSameForEveryChunking(bytes, {Expect(K::StimulusPage).value(2), kOverflow, kCharB}, 2);
    EXPECT_EQ(decodeWhole(bytes).stats.malformedPackets, 2u);
}

TEST(DecoderRecoveryTest, ZerosWithoutTheirOneBitAreDiscarded) {
    expectSameForEveryChunking({0x00, 0x00, 0x00, 0x70}, {kOverflow}, 3);
    expectSameForEveryChunking({0x00, 0x00, 0x00, 0x00, 0x80, 0x70}, {kOverflow}, 5);
    expectSameForEveryChunking({0x00, 0x01, 0x41}, {kCharA}, 1);
}

// A sync is 47 zero bits and a one, wherever the zeros came from: here the last payload byte of
// a timestamp supplies the first of them.
TEST(DecoderRecoveryTest, SyncCountsZeroPayloadBytes) {
    expectSameForEveryChunking({0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x01, 0x41},
                               {Expect(K::LocalTimestamp1).size(1), Expect(K::Sync), kCharA});
}

TEST(DecoderRecoveryTest, LostContinuationByteSpoilsOnlyItsPacket) {
    // 94 81 82 [83] 01: the timestamp ends one byte early.
    expectSameForEveryChunking(
        {0x94, 0x81, 0x82, 0x01, 0x70, 0x01, 0x41},
        {Expect(K::GlobalTimestamp1).size(3).value(1 | 2 << 7 | 1 << 14), kOverflow, kCharA});
}

size_t resyncDistance(const Trace& trace, const Bytes& damaged, size_t damageAt) {
    const std::vector<Packet> decoded = decodeWhole(damaged).packets;
    for (size_t distance = 0; distance <= trace.bytes.size(); ++distance) {
        const std::vector<Packet> tail = trace.packetsFrom(damageAt + distance);
        if (decoded.size() >= tail.size() &&
            std::equal(tail.begin(), tail.end(), decoded.end() - tail.size())) {
            return distance;
        }
    }
    return trace.bytes.size();
}

// Text bytes look like headers, so a misread can run on for a while; it must end well within
// the trace, and without a sync packet to help.
constexpr size_t kMaxResyncDistance = 32;

TEST(DecoderRecoveryTest, BackInStepSoonAfterAnyLostByte) {
    const Trace trace = realisticTrace();
    ASSERT_EQ(decodeWhole(trace.bytes).packets, trace.packets);
    for (size_t lost = 0; lost < trace.bytes.size(); ++lost) {
        Bytes damaged = trace.bytes;
        damaged.erase(damaged.begin() + static_cast<std::ptrdiff_t>(lost));
        EXPECT_LE(resyncDistance(trace, damaged, lost), kMaxResyncDistance) << "lost byte " << lost;
    }
}

TEST(DecoderRecoveryTest, BackInStepSoonAfterAnyInsertedByte) {
    const Trace trace = realisticTrace();
    for (size_t at : trace.starts) {
        for (unsigned value = 0; value < 256; ++value) {
            if ((value & 0x8F) == 0x08) {
                continue;  // a stimulus page packet is valid and moves every later port
            }
            Bytes damaged = trace.bytes;
            damaged.insert(damaged.begin() + static_cast<std::ptrdiff_t>(at),
                           static_cast<uint8_t>(value));
            EXPECT_LE(resyncDistance(trace, damaged, at), kMaxResyncDistance)
                << "byte 0x" << std::hex << value << " inserted at " << std::dec << at;
        }
    }
}

struct TruncatedCase {
    const char* what;
    Bytes bytes;
    std::vector<Packet> expected;
    uint64_t discarded;
    uint64_t truncated;
};

TEST(DecoderRecoveryTest, StreamCutShortCountsTheTruncatedPacket) {
    const std::vector<TruncatedCase> cases = {
        {"instrumentation word", {0x01, 0x41, 0x03, 0x01, 0x02}, {kCharA}, 3, 1},
        {"header alone", {0x01, 0x41, 0x17}, {kCharA}, 1, 1},
        {"local timestamp 1", {0xC0, 0x81}, {}, 2, 1},
        {"global timestamp 2 one byte short", {0xB4, 0x81, 0x82, 0x83, 0x84, 0x85}, {}, 6, 1},
        {"zeros of a sync", {0x70, 0x00, 0x00, 0x00, 0x00, 0x00}, {kOverflow}, 5, 0},
    };
    for (const TruncatedCase& c : cases) {
        SCOPED_TRACE(c.what);
        expectSameForEveryChunking(c.bytes, c.expected, c.discarded, c.truncated);
    }
}

TEST(DecoderRecoveryTest, HeldPartialPacketWaitsForTheNextFeed) {
    Decoder decoder;
    std::vector<Packet> packets;
    auto collect = [&](const Packet& p) { packets.push_back(p); };
    const uint8_t first[] = {0x01, 0x41, 0xFB, 0x78, 0x56};
    const uint8_t second[] = {0x34, 0x12, 0x70};
    decoder.feed(first, sizeof first, collect);
    EXPECT_EQ(packets, std::vector<Packet>{kCharA});
    EXPECT_EQ(decoder.heldBytes(), 3u);
    decoder.feed(second, sizeof second, collect);
    EXPECT_EQ(decoder.heldBytes(), 0u);
    EXPECT_EQ(packets, (std::vector<Packet>{
                           kCharA, Expect(K::Instrumentation).port(31).size(4).value(0x12345678),
                           kOverflow}));
}

TEST(DecoderRecoveryTest, FinishStartsAFreshStreamKeepingStats) {
    Decoder decoder;
    std::vector<Packet> packets;
    auto collect = [&](const Packet& p) { packets.push_back(p); };
    const uint8_t first[] = {0x18, 0x01, 0x41, 0x03, 0x01};  // page 1, port 32, then cut
    decoder.feed(first, sizeof first, collect);
    EXPECT_EQ(decoder.stimulusPage(), 1u);
    decoder.finish();
    EXPECT_EQ(decoder.heldBytes(), 0u);
    EXPECT_EQ(decoder.stimulusPage(), 0u);

    const uint8_t second[] = {0x01, 0x42};
    decoder.feed(second, sizeof second, collect);
    EXPECT_EQ(packets, (std::vector<Packet>{Expect(K::StimulusPage).value(1),
                                            Expect(K::Instrumentation).port(32).size(1).value('A'),
                                            kCharB}));
    EXPECT_EQ(decoder.stats().bytes, 7u);
    EXPECT_EQ(decoder.stats().truncatedPackets, 1u);
    EXPECT_EQ(decoder.stats().discardedBytes, 2u);
    EXPECT_EQ(decoder.stats().count(K::Instrumentation), 2u);
}

}  // namespace
}  // namespace dravik::itm::test
