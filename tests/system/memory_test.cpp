// Target memory: the six primitives' checks and records, the splitting of Read and Write into
// pieces, and data round trips against the target model's SRAM.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <numeric>
#include <ostream>
#include <string>
#include <vector>

#include "ProbeCommands.h"
#include "TargetFixture.h"

namespace dravik::test {
namespace {

using sim::ScriptedAnswer;

constexpr uint32_t kSram = sim::silicon::kSramBase;
constexpr uint32_t kSramEnd = sim::silicon::kSramBase + sim::silicon::kSramSize;

constexpr uint8_t kRead32 = 0x07, kWrite32 = 0x08, kRead8 = 0x0C, kWrite8 = 0x0D;
constexpr uint8_t kRead16 = 0x47, kWrite16 = 0x48;

// One memory command as sent: sub-command, address and size field.
struct Piece {
    uint8_t sub;
    uint32_t address;
    uint16_t size;
    bool operator==(const Piece& o) const {
        return sub == o.sub && address == o.address && size == o.size;
    }
};

void PrintTo(const Piece& p, std::ostream* os) {
    char text[48];
    std::snprintf(text, sizeof text, "{%02X @%08X size %u}", p.sub, p.address, p.size);
    *os << text;
}

bool IsMemoryCommand(const sim::WireEntry& w) {
    const uint8_t sub = w.cdb[1];
    return w.cdb[0] == 0xF2 && (sub == kRead32 || sub == kWrite32 || sub == kRead8 ||
                                sub == kWrite8 || sub == kRead16 || sub == kWrite16);
}

// The memory commands of the wire log, in order.
std::vector<Piece> SentPieces() {
    std::vector<Piece> pieces;
    for (const sim::WireEntry& w : sim::bench().sends()) {
        if (IsMemoryCommand(w)) {
            pieces.push_back(
                Piece{w.cdb[1], LoadLe32(w.cdb.data() + 2), LoadLe16(w.cdb.data() + 6)});
        }
    }
    return pieces;
}

// Every memory command is followed by exactly one long-form status query.
::testing::AssertionResult StatusQueryAfterEachPiece() {
    const std::vector<sim::WireEntry> sends = sim::bench().sends();
    for (size_t i = 0; i < sends.size(); ++i) {
        const bool query = sends[i].cdb[0] == 0xF2 && sends[i].cdb[1] == 0x3E;
        if (query != (i % 2 == 1) || (!query && !IsMemoryCommand(sends[i]))) {
            return ::testing::AssertionFailure() << "send #" << i << ": " << sends[i].describe();
        }
    }
    return ::testing::AssertionSuccess();
}

std::vector<uint8_t> Pattern(size_t size, uint8_t seed = 0x31) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(seed + 7 * i + (i >> 8));
    }
    return bytes;
}

class MemoryTest : public TargetTest {
  protected:
    // SRAM bytes of the model, without going through the probe.
    std::vector<uint8_t> Sram(uint32_t address, size_t size) {
        std::vector<uint8_t> bytes(size);
        EXPECT_TRUE(Target().peekMemory(address, bytes.data(), size));
        return bytes;
    }
    static uint8_t Canary(uint32_t address) { return sim::sramCanaryByte(address - kSram); }
};

// ---- Splitting

struct SplitCase {
    const char* name;
    bool write;
    uint32_t address;
    uint32_t size;
    bool fw16;
    std::vector<Piece> pieces;
};

const SplitCase kSplitCases[] = {
    {"TenBytesAtOddAddress16",
     false,
     0x20000001,
     10,
     true,
     {{kRead8, 0x20000001, 3},
      {kRead32, 0x20000004, 4},
      {kRead16, 0x20000008, 2},
      {kRead8, 0x2000000A, 1}}},
    {"TenBytesAtOddAddressNo16",
     false,
     0x20000001,
     10,
     false,
     {{kRead8, 0x20000001, 3}, {kRead32, 0x20000004, 4}, {kRead8, 0x20000008, 3}}},
    {"WriteTenBytesAtOddAddress16",
     true,
     0x20000001,
     10,
     true,
     {{kWrite8, 0x20000001, 3},
      {kWrite32, 0x20000004, 4},
      {kWrite16, 0x20000008, 2},
      {kWrite8, 0x2000000A, 1}}},
    {"WriteTenBytesAtOddAddressNo16",
     true,
     0x20000001,
     10,
     false,
     {{kWrite8, 0x20000001, 3}, {kWrite32, 0x20000004, 4}, {kWrite8, 0x20000008, 3}}},
    {"TwoBytesAtHalfWord16", false, 0x20000002, 2, true, {{kRead16, 0x20000002, 2}}},
    {"TwoBytesAtHalfWordNo16", false, 0x20000002, 2, false, {{kRead8, 0x20000002, 2}}},
    {"OneByteAtHalfWord16", false, 0x20000002, 1, true, {{kRead8, 0x20000002, 1}}},
    {"SixBytesAtHalfWord16",
     false,
     0x20000002,
     6,
     true,
     {{kRead16, 0x20000002, 2}, {kRead32, 0x20000004, 4}}},
    {"TwoKilobytesAcrossBlocks",
     false,
     0x20000100,
     2048,
     true,
     {{kRead32, 0x20000100, 768}, {kRead32, 0x20000400, 1024}, {kRead32, 0x20000800, 256}}},
    {"WriteOneKilobyteAligned", true, 0x20000000, 1024, true, {{kWrite32, 0x20000000, 1024}}},
    {"WriteOneKilobyteFromWordFour",
     true,
     0x20000004,
     1024,
     true,
     {{kWrite32, 0x20000004, 1020}, {kWrite32, 0x20000400, 4}}},
    {"OneWordAligned", false, 0x20000000, 4, true, {{kRead32, 0x20000000, 4}}},
    {"ByteBeforeABlockBoundary",
     false,
     0x200003FF,
     7,
     true,
     {{kRead8, 0x200003FF, 1}, {kRead32, 0x20000400, 4}, {kRead16, 0x20000404, 2}}},
    {"ZeroBytesAligned", false, 0x20000000, 0, true, {}},
    {"WriteZeroBytesAligned", true, 0x20000000, 0, false, {}},
};

class MemorySplitTest : public MemoryTest, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(MemorySplitTest, PiecesInAddressOrder) {
    const SplitCase& c = GetParam();
    DbgDev& dev = Connect(c.fw16 ? DebugProbe(3, 7) : DebugProbe(2, 25));
    std::vector<uint8_t> data = Pattern(c.size);
    unsigned rwStatus = 0xFFFFFFFF;
    const int result = c.write ? dev.Write(c.address, data.data(), c.size, &rwStatus, 0)
                               : dev.Read(c.address, data.data(), c.size, &rwStatus, 0);
    EXPECT_EQ(0, result);
    EXPECT_EQ(c.pieces, SentPieces());
    EXPECT_TRUE(StatusQueryAfterEachPiece());
    EXPECT_EQ(c.pieces.empty() ? 0xFFFFFFFFu : 0u, rwStatus);
    EXPECT_TRUE(RecordsWellFormed(bench().log()));
}

INSTANTIATE_TEST_SUITE_P(Examples, MemorySplitTest, ::testing::ValuesIn(kSplitCases),
                         [](const ::testing::TestParamInfo<SplitCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(MemoryTest, RangeEndingAtTheTopIsSplitAndOnePastIsRefused) {
    DbgDev& dev = Connect();
    std::vector<uint8_t> buffer(256);
    EXPECT_EQ(DBGDEV_AP_FAULT, dev.Read(0xFFFFFF00, buffer.data(), 256, nullptr, 0));
    EXPECT_EQ(std::vector<Piece>({{kRead32, 0xFFFFFF00, 256}}), SentPieces());
    bench().clearLog();
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.Read(0xFFFFFFFE, buffer.data(), 4, nullptr, 0));
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.Write(0xFFFFFF01, buffer.data(), 0x100, nullptr, 0));
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.Read(0x00000010, buffer.data(), 0xFFFFFFF1, nullptr, 0));
    EXPECT_TRUE(bench().log().empty());
}

TEST_F(MemoryTest, FailingPieceEndsTheOperation) {
    DbgDev& dev = Connect();
    // Three bytes of SRAM, then a word piece that runs off its end.
    std::vector<uint8_t> buffer(12, 0xEE);
    unsigned rwStatus = 0;
    EXPECT_EQ(DBGDEV_AP_FAULT, dev.Read(kSramEnd - 3, buffer.data(), 12, &rwStatus, 0));
    EXPECT_EQ(std::vector<Piece>({{kRead8, kSramEnd - 3, 3}, {kRead32, kSramEnd, 8}}),
              SentPieces());
    EXPECT_EQ(4u, bench().sends().size());
    EXPECT_EQ(kSramEnd, rwStatus);
    EXPECT_EQ(Sram(kSramEnd - 3, 3), std::vector<uint8_t>(buffer.begin(), buffer.begin() + 3));
    EXPECT_EQ("Error (32) in ReadMemory_32Bit (8 bytes from 0x20020000)", log_.last());

    // A transport failure of the second piece: no status query, nothing after it.
    bench().clearLog();
    bench().injectFault(3, sim::Fault{});
    const std::vector<uint8_t> data = Pattern(10);
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.Write(0x20000001, data.data(), 10, &rwStatus, 0));
    EXPECT_EQ(std::vector<Piece>({{kWrite8, 0x20000001, 3}, {kWrite32, 0x20000004, 4}}),
              SentPieces());
    EXPECT_EQ(3u, bench().sends().size());
    EXPECT_EQ("Error (3) in WriteMemory_32Bit (4 bytes to 0x20000004)", log_.last());
    EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 3), Sram(0x20000001, 3));
    EXPECT_EQ(Canary(0x20000004), Sram(0x20000004, 1)[0]);
}

// ---- Round trips

struct RoundTrip {
    uint32_t address;
    uint32_t size;
};

TEST_F(MemoryTest, RoundTripsKeepTheNeighbours) {
    const RoundTrip trips[] = {{0x20000011, 10}, {0x20000102, 2053}, {0x200003FE, 7},
                               {0x20000023, 1},  {0x20000042, 2},    {0x20001000, 64}};
    for (const bool fw16 : {true, false}) {
        for (const RoundTrip& t : trips) {
            SCOPED_TRACE(::testing::Message() << std::hex << t.address << " " << std::dec << t.size
                                              << (fw16 ? " with 16-bit" : " without 16-bit"));
            DbgDev& dev = Connect(fw16 ? DebugProbe(3, 7) : DebugProbe(2, 25));
            const std::vector<uint8_t> data = Pattern(t.size, static_cast<uint8_t>(t.size));
            ASSERT_EQ(0, dev.Write(t.address, data.data(), t.size, nullptr, 0));

            const std::vector<uint8_t> image = Sram(t.address - 4, t.size + 8);
            for (unsigned i = 0; i < 4; ++i) {
                EXPECT_EQ(Canary(t.address - 4 + i), image[i]) << "before, " << i;
                EXPECT_EQ(Canary(t.address + t.size + i), image[4 + t.size + i]) << "after, " << i;
            }
            EXPECT_EQ(data, std::vector<uint8_t>(image.begin() + 4, image.end() - 4));

            std::vector<uint8_t> back(t.size + 2, 0xEE);
            ASSERT_EQ(0, dev.Read(t.address, back.data() + 1, t.size, nullptr, 0));
            EXPECT_EQ(0xEE, back.front());
            EXPECT_EQ(0xEE, back.back());
            EXPECT_EQ(data, std::vector<uint8_t>(back.begin() + 1, back.end() - 1));
        }
    }
}

// ---- Primitives

TEST_F(MemoryTest, OneByteReadAsksForTwoAndChangesOnlyTheFirst) {
    DbgDev& dev = Connect();
    uint8_t buffer[2] = {0xEE, 0xEE};
    EXPECT_EQ(0, dev.ReadMemory_8Bit(0x20000005, buffer, 1, nullptr, 0));
    EXPECT_EQ(Canary(0x20000005), buffer[0]);
    EXPECT_EQ(0xEE, buffer[1]);
    EXPECT_TRUE(SentExactly({
        In({0xF2, 0x0C, 0x05, 0x00, 0x00, 0x20, 0x01, 0x00, 0x00}, 2),
        In({0xF2, 0x3E}, 12),
    }));

    // Whatever the probe puts in the second byte stays in the local buffer.
    bench().script(ScriptedAnswer::Bytes({0x5A, 0x77}).When({0xF2, 0x0C}));
    buffer[0] = 0xEE;
    EXPECT_EQ(0, dev.ReadMemory_8Bit(0x20000005, buffer, 1, nullptr, 0));
    EXPECT_EQ(0x5A, buffer[0]);
    EXPECT_EQ(0xEE, buffer[1]);

    // A failed exchange copies nothing and leaves rwStatus alone.
    bench().script(ScriptedAnswer::Transport(sim::drv::kFailure).When({0xF2, 0x0C}));
    unsigned rwStatus = 0x1234;
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.ReadMemory_8Bit(0x20000005, buffer, 1, &rwStatus, 0));
    EXPECT_EQ(0x5A, buffer[0]);
    EXPECT_EQ(0x1234u, rwStatus);
    EXPECT_EQ("Error (3) in ReadMemory_8Bit (1 bytes from 0x20000005)", log_.last());
}

TEST_F(MemoryTest, OneByteWriteSendsTheByteTwice) {
    DbgDev& dev = Connect();
    const uint8_t byte = 0x3C;
    EXPECT_EQ(0, dev.WriteMemory_8Bit(0x20000005, &byte, 1, nullptr, 0x100));
    EXPECT_TRUE(SentExactly({
        Out({0xF2, 0x0D, 0x05, 0x00, 0x00, 0x20, 0x01, 0x00, 0x00}, {0x3C, 0x3C}),
        In({0xF2, 0x3E}, 12),
    }));
    EXPECT_EQ(std::vector<uint8_t>({Canary(0x20000004), 0x3C, Canary(0x20000006)}),
              Sram(0x20000004, 3));
}

TEST_F(MemoryTest, ByteAccessesTakeAtMost64Bytes) {
    DbgDev& dev = Connect();
    std::vector<uint8_t> buffer(65);
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.ReadMemory_8Bit(0x20000000, buffer.data(), 65, nullptr, 0));
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.WriteMemory_8Bit(0x20000000, buffer.data(), 65, nullptr, 0));
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.ReadMemory_8Bit(0x20000000, nullptr, 1, nullptr, 0));
    EXPECT_TRUE(log_.lines().empty());
    EXPECT_TRUE(bench().log().empty());
    EXPECT_EQ(0, dev.ReadMemory_8Bit(0x20000001, buffer.data(), 64, nullptr, 0));
    EXPECT_EQ(Sram(0x20000001, 64), std::vector<uint8_t>(buffer.begin(), buffer.end() - 1));
    // No shortcut for size 0: the command goes out without a data phase.
    EXPECT_EQ(0, dev.WriteMemory_8Bit(0x20000001, buffer.data(), 0, nullptr, 0));
    EXPECT_TRUE(SentExactly({
        In({0xF2, 0x0C, 0x01, 0x00, 0x00, 0x20, 0x40, 0x00, 0x00}, 64),
        In({0xF2, 0x3E}, 12),
        Out({0xF2, 0x0D, 0x01, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00}, {}),
        In({0xF2, 0x3E}, 12),
    }));
}

TEST_F(MemoryTest, ZeroLengthByteWriteNeverReadsTheBuffer) {
    DbgDev& dev = Connect();
    // An empty heap block: the sanitizer build catches any read of its first byte.
    std::unique_ptr<unsigned char[]> empty(new unsigned char[0]);
    EXPECT_EQ(0, dev.WriteMemory_8Bit(0x20000001, empty.get(), 0, nullptr, 0));
    EXPECT_TRUE(SentExactly({
        Out({0xF2, 0x0D, 0x01, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00}, {}),
        In({0xF2, 0x3E}, 12),
    }));
}

TEST_F(MemoryTest, WordAndHalfWordChecksComeBeforeSending) {
    DbgDev& dev = Connect();
    uint8_t buffer[8] = {};
    EXPECT_EQ(0, dev.ReadMemory_32Bit(0x20000000, nullptr, 0, nullptr, 0));
    EXPECT_EQ(0, dev.WriteMemory_16Bit(0x20000001, nullptr, 0, nullptr, 0));
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.WriteMemory_32Bit(0x20000000, nullptr, 4, nullptr, 0));
    EXPECT_TRUE(log_.lines().empty());

    struct Misaligned {
        int (DbgDev::*read)(unsigned, unsigned char*, unsigned short, unsigned*, int);
        uint32_t address;
        unsigned short size;
        const char* message;
    };
    const Misaligned cases[] = {
        {&DbgDev::ReadMemory_32Bit, 0x20000000, 6,
         "Misaligned value in ReadMemory_32Bit parameter (0x000006 or 0x20000000)"},
        {&DbgDev::ReadMemory_32Bit, 0x20000002, 4,
         "Misaligned value in ReadMemory_32Bit parameter (0x000004 or 0x20000002)"},
        {&DbgDev::ReadMemory_16Bit, 0x20000001, 2,
         "Misaligned value in ReadMemory_16Bit parameter (0x000002 or 0x20000001)"},
        {&DbgDev::ReadMemory_16Bit, 0x20000000, 3,
         "Misaligned value in ReadMemory_16Bit parameter (0x000003 or 0x20000000)"},
    };
    for (const Misaligned& c : cases) {
        EXPECT_EQ(DBGDEV_BAD_ARGUMENT, (dev.*c.read)(c.address, buffer, c.size, nullptr, 0));
        EXPECT_EQ(c.message, log_.last());
    }
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.WriteMemory_32Bit(0x20000001, buffer, 4, nullptr, 0));
    EXPECT_EQ("Misaligned value in WriteMemory_32Bit parameter (0x000004 or 0x20000001)",
              log_.last());
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.WriteMemory_16Bit(0x20000000, buffer, 1, nullptr, 0));
    EXPECT_EQ("Misaligned value in WriteMemory_16Bit parameter (0x000001 or 0x20000000)",
              log_.last());
    EXPECT_TRUE(bench().log().empty());
}

TEST_F(MemoryTest, HalfWordAccessNeedsAnOpenProbeAndItsFirmware) {
    uint8_t buffer[2] = {};
    DbgDev& closed = MakeDevice();
    EXPECT_EQ(DBGDEV_NO_PROBE, closed.ReadMemory_16Bit(0x20000000, buffer, 2, nullptr, 0));
    EXPECT_TRUE(log_.lines().empty());

    DbgDev& dev = Connect(DebugProbe(2, 25));
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.ReadMemory_16Bit(0x20000000, buffer, 2, nullptr, 0));
    EXPECT_EQ("The detected Dravik firmware version (V2.J25) does not support 16 bits accesses.",
              log_.last());
    // The gate comes before the size and pointer checks.
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.WriteMemory_16Bit(0x20000001, nullptr, 0, nullptr, 0));
    EXPECT_TRUE(bench().log().empty());
}

TEST_F(MemoryTest, HalfWordsAndWordsOnTheWire) {
    DbgDev& dev = Connect();
    const uint8_t data[4] = {0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ(0, dev.WriteMemory_16Bit(0x20000012, data, 2, nullptr, 1));
    EXPECT_EQ(0, dev.WriteMemory_32Bit(0x20000014, data, 4, nullptr, 1));
    uint8_t back[6] = {};
    EXPECT_EQ(0, dev.ReadMemory_16Bit(0x20000012, back, 6, nullptr, 1));
    EXPECT_EQ(std::vector<uint8_t>({0x11, 0x22, 0x11, 0x22, 0x33, 0x44}),
              std::vector<uint8_t>(back, back + 6));
    EXPECT_TRUE(SentExactly({
        Out({0xF2, 0x48, 0x12, 0x00, 0x00, 0x20, 0x02, 0x00, 0x01}, {0x11, 0x22}),
        In({0xF2, 0x3E}, 12),
        Out({0xF2, 0x08, 0x14, 0x00, 0x00, 0x20, 0x04, 0x00, 0x01}, {0x11, 0x22, 0x33, 0x44}),
        In({0xF2, 0x3E}, 12),
        In({0xF2, 0x47, 0x12, 0x00, 0x00, 0x20, 0x06, 0x00, 0x01}, 6),
        In({0xF2, 0x3E}, 12),
    }));
}

TEST_F(MemoryTest, TransferOutsideDebugModeFailsThroughTheStatusQuery) {
    sim::ProbeConfig config = DebugProbe();
    config.initialMode = sim::kModeIdle;
    DbgDev& dev = Connect(config);
    const uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.WriteMemory_32Bit(0x20000000, data, 4, nullptr, 0));
    EXPECT_EQ("Error (19) in WriteMemory_32Bit (4 bytes to 0x20000000)", log_.last());
    EXPECT_EQ(Canary(0x20000000), Sram(0x20000000, 1)[0]);
}

TEST_F(MemoryTest, RamLocationIsTheSramRegion) {
    const struct {
        uint32_t address;
        bool ram;
    } cases[] = {{0x20000000, true},  {0x2FFFFFFF, true},  {0x1FFFFFFF, false},
                 {0x30000000, false}, {0x08000000, false}, {0xE000EDF0, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.ram, DbgDev::IsRamLocation(c.address)) << std::hex << c.address;
    }
}

}  // namespace
}  // namespace dravik::test
