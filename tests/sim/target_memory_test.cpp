// Flash and SRAM as the bus sees them: initial content, widths and offsets, read-only flash, faults
// outside the map, block transfers and the fixture back door.

#include <array>
#include <vector>

#include "target_fixture.h"

namespace dravik::sim::testing {
namespace {

constexpr uint32_t kSram = silicon::kSramBase;
constexpr uint32_t kFlash = silicon::kFlashBase;

std::vector<uint8_t> peek(const CortexM& core, uint32_t address, size_t length) {
    std::vector<uint8_t> bytes(length);
    EXPECT_TRUE(core.peekMemory(address, bytes.data(), bytes.size()));
    return bytes;
}

std::vector<uint8_t> canary(uint32_t offset, size_t length) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i) {
        bytes[i] = sramCanaryByte(static_cast<uint32_t>(offset + i));
    }
    return bytes;
}

TEST(TargetMemory, SramStartsWithCanaryWhoseNeighboursDiffer) {
    CortexM core;
    EXPECT_EQ(peek(core, kSram, 64), canary(0, 64));
    EXPECT_EQ(peek(core, kSram + silicon::kSramSize - 64, 64), canary(silicon::kSramSize - 64, 64));
    for (uint32_t offset = 0; offset + 1 < silicon::kSramSize; offset += 97) {
        EXPECT_NE(sramCanaryByte(offset), sramCanaryByte(offset + 1)) << offset;
    }
    uint32_t word = 0;
    ASSERT_EQ(core.read(kSram, AccessSize::Word, word, 1), BusStatus::Ok);
    EXPECT_EQ(word, uint32_t{sramCanaryByte(0)} | uint32_t{sramCanaryByte(1)} << 8 |
                        uint32_t{sramCanaryByte(2)} << 16 | uint32_t{sramCanaryByte(3)} << 24);
}

struct WidthCase {
    AccessSize size;
    uint32_t offset;
    bool aligned;
};

class TargetMemoryWrite : public ::testing::TestWithParam<WidthCase> {};

// Every width at every offset of a word: only the addressed bytes change, little-endian; a
// misaligned access faults and changes nothing.
TEST_P(TargetMemoryWrite, TouchesExactlyTheAddressedBytes) {
    const WidthCase c = GetParam();
    CortexM core;
    constexpr uint32_t kWindow = 0x100;
    const uint32_t address = kSram + kWindow + 4 + c.offset;
    const BusStatus status = core.write(address, c.size, 0x11223344, 1);

    std::vector<uint8_t> expected = canary(kWindow, 16);
    if (c.aligned) {
        ASSERT_EQ(status, BusStatus::Ok);
        const uint8_t le[4] = {0x44, 0x33, 0x22, 0x11};
        for (unsigned i = 0; i < bytesOf(c.size); ++i) {
            expected[4 + c.offset + i] = le[i];
        }
    } else {
        EXPECT_EQ(status, BusStatus::Fault);
    }
    EXPECT_EQ(peek(core, kSram + kWindow, 16), expected);

    uint32_t back = 0xDEAD;
    if (c.aligned) {
        ASSERT_EQ(core.read(address, c.size, back, 2), BusStatus::Ok);
        const uint32_t mask = c.size == AccessSize::Word       ? 0xFFFFFFFFu
                              : c.size == AccessSize::HalfWord ? 0xFFFFu
                                                               : 0xFFu;
        EXPECT_EQ(back, 0x11223344u & mask);
    } else {
        EXPECT_EQ(core.read(address, c.size, back, 2), BusStatus::Fault);
        EXPECT_EQ(back, 0xDEADu);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllWidthsAndOffsets, TargetMemoryWrite,
    ::testing::Values(
        WidthCase{AccessSize::Byte, 0, true}, WidthCase{AccessSize::Byte, 1, true},
        WidthCase{AccessSize::Byte, 2, true}, WidthCase{AccessSize::Byte, 3, true},
        WidthCase{AccessSize::HalfWord, 0, true}, WidthCase{AccessSize::HalfWord, 1, false},
        WidthCase{AccessSize::HalfWord, 2, true}, WidthCase{AccessSize::HalfWord, 3, false},
        WidthCase{AccessSize::Word, 0, true}, WidthCase{AccessSize::Word, 1, false},
        WidthCase{AccessSize::Word, 2, false}, WidthCase{AccessSize::Word, 3, false}));

TEST(TargetMemory, ReadsAreLittleEndianAtEveryWidth) {
    CortexM core;
    ASSERT_EQ(core.write(kSram + 8, AccessSize::Word, 0xA1B2C3D4, 1), BusStatus::Ok);
    uint32_t v = 0;
    ASSERT_EQ(core.read(kSram + 8, AccessSize::Byte, v, 2), BusStatus::Ok);
    EXPECT_EQ(v, 0xD4u);
    ASSERT_EQ(core.read(kSram + 11, AccessSize::Byte, v, 3), BusStatus::Ok);
    EXPECT_EQ(v, 0xA1u);
    ASSERT_EQ(core.read(kSram + 8, AccessSize::HalfWord, v, 4), BusStatus::Ok);
    EXPECT_EQ(v, 0xC3D4u);
    ASSERT_EQ(core.read(kSram + 10, AccessSize::HalfWord, v, 5), BusStatus::Ok);
    EXPECT_EQ(v, 0xA1B2u);
}

TEST(TargetMemory, FlashIsErasedWithVectorTableAndRejectsBusWrites) {
    CortexM core;
    uint32_t v = 0;
    ASSERT_EQ(core.read(kFlash, AccessSize::Word, v, 1), BusStatus::Ok);
    EXPECT_EQ(v, silicon::kSramBase + silicon::kSramSize);
    ASSERT_EQ(core.read(kFlash + 4, AccessSize::Word, v, 1), BusStatus::Ok);
    EXPECT_EQ(v, 0x08000101u);
    EXPECT_EQ(peek(core, kFlash + 8, 8), std::vector<uint8_t>(8, 0xFF));
    EXPECT_EQ(peek(core, kFlash + silicon::kFlashSize - 4, 4), std::vector<uint8_t>(4, 0xFF));

    EXPECT_EQ(core.write(kFlash + 8, AccessSize::Word, 0, 2), BusStatus::Fault);
    EXPECT_EQ(core.write(kFlash + 8, AccessSize::HalfWord, 0, 2), BusStatus::Fault);
    EXPECT_EQ(core.write(kFlash + 9, AccessSize::Byte, 0, 2), BusStatus::Fault);
    EXPECT_EQ(peek(core, kFlash + 8, 4), std::vector<uint8_t>(4, 0xFF));
}

TEST(TargetMemory, VectorTableFollowsConfiguration) {
    TargetConfig config;
    config.flash = {0x00000000, 64 * 1024};
    config.sram = {0x10000000, 16 * 1024};
    CortexM derived(config);
    uint32_t v = 0;
    ASSERT_EQ(derived.read(0, AccessSize::Word, v, 1), BusStatus::Ok);
    EXPECT_EQ(v, 0x10004000u);
    ASSERT_EQ(derived.read(4, AccessSize::Word, v, 1), BusStatus::Ok);
    EXPECT_EQ(v, 0x00000101u);

    config.initialStackPointer = 0x10001000;
    config.resetVector = 0x00000201;
    CortexM explicitTable(config);
    ASSERT_EQ(explicitTable.read(0, AccessSize::Word, v, 1), BusStatus::Ok);
    EXPECT_EQ(v, 0x10001000u);
    ASSERT_EQ(explicitTable.read(4, AccessSize::Word, v, 1), BusStatus::Ok);
    EXPECT_EQ(v, 0x00000201u);
}

TEST(TargetMemory, AccessesOutsideTheMapFault) {
    const uint32_t unmapped[] = {
        0x00000000,                    // below flash
        kFlash - 4,                    // just below flash
        kFlash + silicon::kFlashSize,  // just past flash
        kSram - 4,                     // just below SRAM
        kSram + silicon::kSramSize,    // just past SRAM
        0x40000000,                    // peripheral space
        0xE000E100,                    // NVIC: not modelled
        0xE000ED04,                    // ICSR: not modelled
        0xE0000000,                    // ITM: nobody attached
        0xE0100000,                    // vendor system space
        0xFFFFFFFC,
    };
    CortexM core;
    for (uint32_t address : unmapped) {
        uint32_t v = 0x5A5A5A5A;
        EXPECT_EQ(core.read(address, AccessSize::Word, v, 1), BusStatus::Fault)
            << std::hex << address;
        EXPECT_EQ(v, 0x5A5A5A5Au);
        EXPECT_EQ(core.write(address, AccessSize::Word, 0, 1), BusStatus::Fault)
            << std::hex << address;
    }
    uint32_t v = 0;
    EXPECT_EQ(core.read(kFlash + silicon::kFlashSize - 4, AccessSize::Word, v, 2), BusStatus::Ok);
    EXPECT_EQ(core.read(kSram + silicon::kSramSize - 1, AccessSize::Byte, v, 2), BusStatus::Ok);
}

TEST(TargetMemory, SystemSpaceTakesWordAccessesOnly) {
    TargetHarness h;
    uint32_t v = 0;
    EXPECT_EQ(h.core.read(reg::kCpuid, AccessSize::Byte, v, h.tick()), BusStatus::Fault);
    EXPECT_EQ(h.core.read(reg::kCpuid, AccessSize::HalfWord, v, h.tick()), BusStatus::Fault);
    EXPECT_EQ(h.core.read(reg::kCpuid + 2, AccessSize::HalfWord, v, h.tick()), BusStatus::Fault);
    EXPECT_EQ(h.core.write(reg::kDhcsr, AccessSize::HalfWord, 0x0003, h.tick()), BusStatus::Fault);
    EXPECT_EQ(h.core.runState(), RunState::Running);
    EXPECT_EQ(h.read32(reg::kCpuid), silicon::kCpuidCortexM4r0p1);
}

TEST(TargetMemory, BlockReadStopsAtFirstFault) {
    CortexM core;
    const uint32_t last = kSram + silicon::kSramSize - 8;
    std::array<uint8_t, 16> out{};
    out.fill(0xEE);
    const BlockTransfer t = core.readBlock(last, out.data(), 16, AccessSize::Word, 1);
    EXPECT_EQ(t.status, BusStatus::Fault);
    EXPECT_EQ(t.bytesDone, 8u);
    const std::vector<uint8_t> head(out.begin(), out.begin() + 8);
    EXPECT_EQ(head, canary(silicon::kSramSize - 8, 8));
    EXPECT_EQ(out[8], 0xEE);
}

TEST(TargetMemory, BlockWriteStopsAtFirstFaultAndKeepsEarlierUnits) {
    CortexM core;
    const uint32_t last = kSram + silicon::kSramSize - 4;
    const std::array<uint8_t, 8> in = {1, 2, 3, 4, 5, 6, 7, 8};
    const BlockTransfer t = core.writeBlock(last, in.data(), 8, AccessSize::HalfWord, 1);
    EXPECT_EQ(t.status, BusStatus::Fault);
    EXPECT_EQ(t.bytesDone, 4u);
    EXPECT_EQ(peek(core, last, 4), (std::vector<uint8_t>{1, 2, 3, 4}));
}

TEST(TargetMemory, BlockTransferEdges) {
    CortexM core;
    std::array<uint8_t, 8> buffer{};
    // A remainder shorter than the unit faults after the whole units.
    BlockTransfer t = core.readBlock(kSram, buffer.data(), 6, AccessSize::Word, 1);
    EXPECT_EQ(t.status, BusStatus::Fault);
    EXPECT_EQ(t.bytesDone, 4u);
    // Running past the top of the address space faults instead of wrapping.
    t = core.readBlock(0xFFFFFFFE, buffer.data(), 4, AccessSize::Byte, 1);
    EXPECT_EQ(t.status, BusStatus::Fault);
    EXPECT_EQ(t.bytesDone, 0u);
    // Misaligned start faults at once.
    t = core.writeBlock(kSram + 2, buffer.data(), 4, AccessSize::Word, 1);
    EXPECT_EQ(t.status, BusStatus::Fault);
    EXPECT_EQ(t.bytesDone, 0u);
    EXPECT_EQ(peek(core, kSram, 8), canary(0, 8));
    // Nothing to do is a success.
    t = core.readBlock(0x40000000, buffer.data(), 0, AccessSize::Word, 1);
    EXPECT_EQ(t.status, BusStatus::Ok);
    EXPECT_EQ(t.bytesDone, 0u);
    // Byte blocks at any alignment.
    const std::array<uint8_t, 3> in = {0xAA, 0xBB, 0xCC};
    t = core.writeBlock(kSram + 1, in.data(), 3, AccessSize::Byte, 1);
    EXPECT_EQ(t.status, BusStatus::Ok);
    EXPECT_EQ(t.bytesDone, 3u);
    std::vector<uint8_t> expected = canary(0, 8);
    expected[1] = 0xAA;
    expected[2] = 0xBB;
    expected[3] = 0xCC;
    EXPECT_EQ(peek(core, kSram, 8), expected);
}

TEST(TargetMemory, WordBlocksReachTheSystemSpace) {
    CortexM core;
    std::array<uint8_t, 4> out{};
    const BlockTransfer t = core.readBlock(reg::kCpuid, out.data(), 4, AccessSize::Word, 1);
    EXPECT_EQ(t.status, BusStatus::Ok);
    EXPECT_EQ(out, (std::array<uint8_t, 4>{0x41, 0xC2, 0x0F, 0x41}));
    const BlockTransfer bytes = core.readBlock(reg::kCpuid, out.data(), 4, AccessSize::Byte, 1);
    EXPECT_EQ(bytes.status, BusStatus::Fault);
    EXPECT_EQ(bytes.bytesDone, 0u);
}

TEST(TargetMemory, BackDoorFillsFlashAndRefusesUnmappedBytes) {
    CortexM core;
    const uint8_t code[] = {0x00, 0xBF, 0xFE, 0xE7};  // nop; b .
    EXPECT_TRUE(core.loadMemory(kFlash + 0x100, code, sizeof code));
    uint32_t v = 0;
    ASSERT_EQ(core.read(kFlash + 0x100, AccessSize::Word, v, 1), BusStatus::Ok);
    EXPECT_EQ(v, 0xE7FEBF00u);
    EXPECT_FALSE(core.loadMemory(kFlash + silicon::kFlashSize - 2, code, sizeof code));
    EXPECT_FALSE(core.loadMemory(0x40000000, code, sizeof code));
    uint8_t out[4] = {};
    EXPECT_FALSE(core.peekMemory(kSram + silicon::kSramSize - 2, out, sizeof out));
}

}  // namespace
}  // namespace dravik::sim::testing
