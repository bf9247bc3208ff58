// Every packet kind, decoded from hand-built bytes under every chunking.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DecoderTestSupport.h"

namespace dravik::itm::test {
namespace {

using K = PacketKind;
using R = TimestampRelation;
using F = ExceptionFunction;
namespace Flag = PacketFlag;
namespace Ev = EventCounterBit;

struct PacketCase {
    const char* name;
    Bytes bytes;
    std::vector<Packet> expected;
};

void PrintTo(const PacketCase& c, std::ostream* os) {
    *os << c.name;
}

Expect instrumentation(uint8_t port, uint8_t size, uint64_t value) {
    return Expect(K::Instrumentation).port(port).size(size).value(value);
}

const std::vector<PacketCase>& packetCases() {
    static const std::vector<PacketCase> cases = {
        {"Sync", {0x00, 0x00, 0x00, 0x00, 0x00, 0x80}, {Expect(K::Sync)}},
        {"SyncWithLongerZeroRun",
         {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80},
         {Expect(K::Sync)}},
        {"Overflow", {0x70}, {Expect(K::Overflow)}},
        {"InstrumentationByte", {0x01, 0x41}, {instrumentation(0, 1, 0x41)}},
        {"InstrumentationHalfword", {0x0A, 0x34, 0x12}, {instrumentation(1, 2, 0x1234)}},
        {"InstrumentationWordPort31",
         {0xFB, 0x78, 0x56, 0x34, 0x12},
         {instrumentation(31, 4, 0x12345678)}},
        {"InstrumentationZeroWord", {0x03, 0x00, 0x00, 0x00, 0x00}, {instrumentation(0, 4, 0)}},
        {"EventCounter",
         {0x05, 0x21},
         {Expect(K::EventCounter).size(1).value(Ev::kCpi | Ev::kCyc)}},
        {"EventCounterAllCounters",
         {0x05, 0x3F},
         {Expect(K::EventCounter)
              .size(1)
              .value(Ev::kCpi | Ev::kExc | Ev::kSleep | Ev::kLsu | Ev::kFold | Ev::kCyc)}},
        {"ExceptionEntered",
         {0x0E, 0x0F, 0x10},
         {Expect(K::ExceptionTrace).discriminator(1).size(2).value(15).function(F::Entered)}},
        {"ExceptionExited",
         {0x0E, 0x03, 0x20},
         {Expect(K::ExceptionTrace).discriminator(1).size(2).value(3).function(F::Exited)}},
        {"ExceptionReturnedNinthBit",
         {0x0E, 0x10, 0x31},
         {Expect(K::ExceptionTrace).discriminator(1).size(2).value(0x110).function(F::Returned)}},
        {"PeriodicPc",
         {0x17, 0x78, 0x56, 0x34, 0x12},
         {Expect(K::PeriodicPc).discriminator(2).size(4).value(0x12345678)}},
        {"PeriodicPcSleep", {0x15, 0x00}, {Expect(K::PeriodicPcSleep).discriminator(2).size(1)}},
        {"DataTracePcComparator1",
         {0x57, 0x01, 0x02, 0x00, 0x08},
         {Expect(K::DataTracePc).discriminator(10).comparator(1).size(4).value(0x08000201)}},
        {"DataTraceAddressComparator2",
         {0x6E, 0x34, 0x12},
         {Expect(K::DataTraceAddress).discriminator(13).comparator(2).size(2).value(0x1234)}},
        {"DataTraceWriteByteComparator3",
         {0xBD, 0x5A},
         {Expect(K::DataTraceValue)
              .discriminator(23)
              .comparator(3)
              .size(1)
              .value(0x5A)
              .flags(Flag::kWrite)}},
        {"DataTraceReadHalfwordComparator1",
         {0x96, 0xCD, 0xAB},
         {Expect(K::DataTraceValue).discriminator(18).comparator(1).size(2).value(0xABCD)}},
        {"DataTraceReadWordComparator0",
         {0x87, 0xEF, 0xBE, 0xAD, 0xDE},
         {Expect(K::DataTraceValue).discriminator(16).size(4).value(0xDEADBEEF)}},
        {"LocalTimestamp1Synchronous",
         {0xC0, 0x05},
         {Expect(K::LocalTimestamp1).size(1).value(5).relation(R::Synchronous)}},
        {"LocalTimestamp1TimestampDelayed",
         {0xD0, 0x81, 0x01},
         {Expect(K::LocalTimestamp1).size(2).value(0x81).relation(R::TimestampDelayed)}},
        {"LocalTimestamp1PacketDelayed",
         {0xE0, 0xFF, 0xFF, 0xFF, 0x7F},
         {Expect(K::LocalTimestamp1).size(4).value(0x0FFFFFFF).relation(R::PacketDelayed)}},
        {"LocalTimestamp1BothDelayed",
         {0xF0, 0x80, 0x80, 0x80, 0x01},
         {Expect(K::LocalTimestamp1).size(4).value(1u << 21).relation(R::BothDelayed)}},
        {"LocalTimestamp2Smallest", {0x10}, {Expect(K::LocalTimestamp2).value(1)}},
        {"LocalTimestamp2Largest", {0x60}, {Expect(K::LocalTimestamp2).value(6)}},
        {"GlobalTimestamp1OneByte", {0x94, 0x05}, {Expect(K::GlobalTimestamp1).size(1).value(5)}},
        {"GlobalTimestamp1AllLowBits",
         {0x94, 0xFF, 0xFF, 0xFF, 0x1F},
         {Expect(K::GlobalTimestamp1).size(4).value(0x3FFFFFF)}},
        {"GlobalTimestamp1WrapAndClockChange",
         {0x94, 0x81, 0x82, 0x83, 0x61},
         {Expect(K::GlobalTimestamp1)
              .size(4)
              .value(1 | 2 << 7 | 3 << 14 | 1 << 21)
              .flags(Flag::kWrap | Flag::kClockChange)}},
        {"GlobalTimestamp1WrapOnly",
         {0x94, 0x80, 0x80, 0x80, 0x40},
         {Expect(K::GlobalTimestamp1).size(4).flags(Flag::kWrap)}},
        {"GlobalTimestamp2For48Bits",
         {0xB4, 0x81, 0x82, 0x83, 0x01},
         {Expect(K::GlobalTimestamp2)
              .size(4)
              .value(static_cast<uint64_t>(1 | 2 << 7 | 3 << 14 | 1 << 21) << 26)}},
        {"GlobalTimestamp2For64Bits",
         {0xB4, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x07},
         {Expect(K::GlobalTimestamp2).size(6).value(0xFFFFFFFFFC000000u)}},
        {"StimulusPageMovesPorts",
         {0x28, 0x01, 0x41, 0x08, 0x01, 0x42},
         {Expect(K::StimulusPage).value(2), instrumentation(64, 1, 0x41),
          Expect(K::StimulusPage).value(0), instrumentation(0, 1, 0x42)}},
        {"SyncResetsStimulusPage",
         {0x78, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x01, 0x41},
         {Expect(K::StimulusPage).value(7), Expect(K::Sync), instrumentation(0, 1, 0x41)}},
        // Overflows early in a buffer and among its last 8 bytes, which load differently.
        {"OverflowResetsStimulusPage",
         {0x28, 0x01, 0x41, 0x70, 0x01, 0x42, 0x0B, 0x01, 0x02, 0x03, 0x04, 0x38, 0x70, 0x09, 0x43},
         {Expect(K::StimulusPage).value(2), instrumentation(64, 1, 0x41), Expect(K::Overflow),
          instrumentation(0, 1, 0x42), instrumentation(1, 4, 0x04030201),
          Expect(K::StimulusPage).value(3), Expect(K::Overflow), instrumentation(1, 1, 0x43)}},
        {"HardwareExtensionHeaderOnly",
         {0x3C},
         {Expect(K::Extension).value(3).flags(Flag::kHardware)}},
        {"HardwareExtensionWithPayload",
         {0x9C, 0x85, 0x02},
         {Expect(K::Extension).size(2).value(1 | 5 << 3 | 2 << 10).flags(Flag::kHardware)}},
        {"ItmExtensionFullPayload",
         {0x88, 0xFF, 0xFF, 0xFF, 0xFF},
         {Expect(K::Extension).size(4).value(0xFFFFFFF8u)}},
    };
    return cases;
}

class DecoderPacketTest : public ::testing::TestWithParam<PacketCase> {};

TEST_P(DecoderPacketTest, SamePacketsForEveryChunking) {
    expectSameForEveryChunking(GetParam().bytes, GetParam().expected);
}

TEST_P(DecoderPacketTest, BatchOfOneGivesSamePackets) {
    const PacketCase& c = GetParam();
    Decoder decoder;
    std::vector<Packet> packets;
    size_t offset = 0;
    while (offset < c.bytes.size()) {
        Packet slot;
        const BatchResult r =
            decoder.decode(c.bytes.data() + offset, c.bytes.size() - offset, &slot, 1);
        ASSERT_LE(r.packets, 1u);
        ASSERT_TRUE(r.packets == 1 || r.bytesConsumed == c.bytes.size() - offset);
        if (r.packets == 1) {
            packets.push_back(slot);
        }
        offset += r.bytesConsumed;
    }
    EXPECT_EQ(packets, c.expected);
    EXPECT_EQ(decoder.heldBytes(), 0u);
}

INSTANTIATE_TEST_SUITE_P(AllKinds, DecoderPacketTest, ::testing::ValuesIn(packetCases()),
                         [](const ::testing::TestParamInfo<PacketCase>& info) {
                             return std::string(info.param.name);
                         });

// All cases back to back, so packets of every kind meet at every chunk boundary.
TEST(DecoderMixedStreamTest, AllKindsBackToBackForEveryChunking) {
    Bytes bytes;
    std::vector<Packet> expected;
    for (const PacketCase& c : packetCases()) {
        bytes.insert(bytes.end(), c.bytes.begin(), c.bytes.end());
        expected.insert(expected.end(), c.expected.begin(), c.expected.end());
    }
    expectSameForEveryChunking(bytes, expected);

    const Decoded decoded = decodeWhole(bytes);
    for (size_t kind = 0; kind < kPacketKindCount; ++kind) {
        size_t want = 0;
        for (const Packet& p : expected) {
            want += static_cast<size_t>(p.kind) == kind ? 1 : 0;
        }
        EXPECT_EQ(decoded.stats.packets[kind], want) << packetKindName(static_cast<K>(kind));
        EXPECT_GT(want, 0u) << "no case for " << packetKindName(static_cast<K>(kind));
    }
    EXPECT_EQ(decoded.stats.syncs(), 3u);
    EXPECT_EQ(decoded.stats.overflows(), 3u);
}

}  // namespace
}  // namespace dravik::itm::test
