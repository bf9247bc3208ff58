#include <gtest/gtest.h>

#include "dravik/swv/HexDump.h"

namespace dravik::swv {
namespace {

std::vector<std::pair<uint32_t, unsigned>> plan(uint32_t address, uint32_t length) {
    std::vector<std::pair<uint32_t, unsigned>> reads;
    for (const MemoryRead& read : planMemoryReads(address, length)) {
        reads.emplace_back(read.address, read.size);
    }
    return reads;
}

TEST(PlanMemoryReads, WidensToWordsAndStopsAtEveryKilobyte) {
    using Reads = std::vector<std::pair<uint32_t, unsigned>>;
    EXPECT_EQ(plan(0x20000000, 16), (Reads{{0x20000000, 16}}));
    EXPECT_EQ(plan(0x20000001, 2), (Reads{{0x20000000, 4}}));
    EXPECT_EQ(plan(0x20000003, 2), (Reads{{0x20000000, 8}}));
    EXPECT_EQ(plan(0x200003F0, 0x20), (Reads{{0x200003F0, 0x10}, {0x20000400, 0x10}}));
    EXPECT_EQ(plan(0x20000000, 2048), (Reads{{0x20000000, 1024}, {0x20000400, 1024}}));
    EXPECT_EQ(plan(0xFFFFFFFC, 4), (Reads{{0xFFFFFFFC, 4}}));
}

TEST(PlanMemoryReads, NothingForAnEmptyOrOverflowingRange) {
    EXPECT_TRUE(planMemoryReads(0x20000000, 0).empty());
    EXPECT_TRUE(planMemoryReads(0xFFFFFFFC, 5).empty());
}

TEST(FormatHexDump, SixteenBytesALineWithTheirCharacters) {
    std::vector<uint8_t> bytes;
    for (unsigned i = 0; i < 20; ++i) {
        bytes.push_back(static_cast<uint8_t>(0x41 + i));
    }
    bytes[1] = 0x00;
    EXPECT_EQ(formatHexDump(0x20000000, bytes),
              "20000000  41 00 43 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50  |A.CDEFGHIJKLMNOP|\n"
              "20000010  51 52 53 54                                       |QRST            |\n");
}

TEST(FormatHexDump, AnUnalignedStartLeavesTheCellsBeforeItBlank) {
    EXPECT_EQ(formatHexDump(0x2000000E, {0x30, 0x31, 0x32}),
              "20000000                                             30 31  |              01|\n"
              "20000010  32                                                |2               |\n");
    EXPECT_EQ(formatHexDump(0, {}), "");
}

}  // namespace
}  // namespace dravik::swv
