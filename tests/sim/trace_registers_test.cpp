// Register access rules of the ITM and TPIU: reset values, masks, read-only registers, the ITM lock
// and its variants, and the host's read-modify-write-verify setup sequence.

#include <gtest/gtest.h>

#include "DravikBench/TraceConfig.h"
#include "trace_test_support.h"

namespace dravik::sim {
namespace {

using namespace trace;
using tracetest::readReg;

struct RegisterValue {
    const char* name;
    uint32_t address;
    uint32_t value;
};

TEST(TraceRegisters, ResetValuesAreThoseOfTheDefaultSilicon) {
    TraceUnit unit;
    const RegisterValue expected[] = {
        {"ITM_TER0", itm::kTer0, 0},
        {"ITM_TPR", itm::kTpr, 0},
        {"ITM_TCR", itm::kTcr, 0},
        {"ITM_LSR", itm::kLsr, silicon::kItmLsrLocked},
        {"ITM_LAR", itm::kLar, 0},
        {"ITM_STIM0", itm::kStimBase, itm::kStimFifoReady},
        {"ITM_STIM31", itm::kStimBase + 31 * 4, itm::kStimFifoReady},
        {"TPIU_SSPSR", tpiu::kSspsr, 0xF},
        {"TPIU_CSPSR", tpiu::kCspsr, 0x1},
        {"TPIU_ACPR", tpiu::kAcpr, 0},
        {"TPIU_SPPR", tpiu::kSppr, 0x1},
        {"TPIU_FFSR", tpiu::kFfsr, 0x8},
        {"TPIU_FFCR", tpiu::kFfcr, 0x102},
        {"TPIU_TYPE", tpiu::kType, 0xCA0},
        {"ITM_PID0", 0xE0000FE0, 0x01},
        {"ITM_PID4", 0xE0000FD0, 0x04},
        {"ITM_CID3", 0xE0000FFC, 0xB1},
        {"TPIU_PID0", 0xE0040FE0, 0xA1},
        {"TPIU_CID1", 0xE0040FF4, 0x90},
        {"unmodelled ITM word", 0xE0000F00, 0},
        {"unmodelled TPIU word", 0xE0040EE8, 0},
    };
    for (const RegisterValue& r : expected) {
        EXPECT_EQ(readReg(unit, r.address), r.value) << r.name;
    }
}

TEST(TraceRegisters, ClaimsExactlyTheItmDwtAndTpiuBlocks) {
    TraceUnit unit;
    EXPECT_TRUE(unit.claims(0xE0000000));
    EXPECT_TRUE(unit.claims(0xE0000FFF));
    EXPECT_TRUE(unit.claims(0xE0001000));
    EXPECT_TRUE(unit.claims(0xE0001FFF));
    EXPECT_FALSE(unit.claims(0xE0002000));  // the FPB belongs to the core model
    EXPECT_FALSE(unit.claims(0xDFFFFFFF));
    EXPECT_TRUE(unit.claims(0xE0040000));
    EXPECT_TRUE(unit.claims(0xE0040FFF));
    EXPECT_FALSE(unit.claims(0xE003FFFC));
    EXPECT_FALSE(unit.claims(0xE0041000));
}

TEST(TraceRegisters, UnalignedOrUnclaimedAccessesFault) {
    TraceUnit unit;
    uint32_t value = 0x12345678;
    EXPECT_FALSE(unit.read32(tpiu::kAcpr + 2, value, 0));
    EXPECT_FALSE(unit.write32(tpiu::kAcpr + 1, 5, 0));
    EXPECT_FALSE(unit.read32(0xE0002000, value, 0));
    EXPECT_FALSE(unit.read32(0xE0001002, value, 0));
    EXPECT_EQ(value, 0x12345678u);
    EXPECT_EQ(readReg(unit, tpiu::kAcpr), 0u);
}

struct MaskCase {
    const char* name;
    uint32_t address;
    uint32_t written;
    uint32_t readBack;
};

TEST(TraceRegisters, WritableFieldsAreMasked) {
    TraceUnit unit;
    unit.write32(itm::kLar, kCoreSightLockKey, 0);
    const MaskCase cases[] = {
        {"ACPR keeps bits 15..0", tpiu::kAcpr, 0xFFFFFFFF, 0xFFFF},
        {"ACPR prescaler 36", tpiu::kAcpr, 35, 35},
        {"SPPR keeps bits 1..0", tpiu::kSppr, 0xFFFFFFF6, 0x2},
        {"FFCR keeps TrigIn and EnFCont", tpiu::kFfcr, 0xFFFFFFFF, 0x102},
        {"FFCR formatter off", tpiu::kFfcr, 0x100, 0x100},
        {"CSPSR within SSPSR", tpiu::kCspsr, 0xFFFFFFF8, 0x8},
        {"TER0 all 32 bits", itm::kTer0, 0xA5A5A5A5, 0xA5A5A5A5},
        {"TPR one bit per 8 ports", itm::kTpr, 0xFFFFFFFF, 0xF},
        {"TCR without BUSY and reserved bits", itm::kTcr, 0xFFFFFFFF, 0x007F0F1F},
    };
    for (const MaskCase& c : cases) {
        ASSERT_TRUE(unit.write32(c.address, c.written, 0)) << c.name;
        EXPECT_EQ(readReg(unit, c.address), c.readBack) << c.name;
    }
}

TEST(TraceRegisters, ReadOnlyRegistersIgnoreWrites) {
    TraceConfig config;
    config.tpiuType = silicon::tpiuType(true, false, 0);
    TraceUnit unit(config);
    unit.write32(itm::kLar, kCoreSightLockKey, 0);
    for (uint32_t address : {tpiu::kType, tpiu::kSspsr, tpiu::kFfsr, itm::kLsr, 0xE0000FE0u}) {
        const uint32_t before = readReg(unit, address);
        EXPECT_TRUE(unit.write32(address, ~before, 0));
        EXPECT_EQ(readReg(unit, address), before) << std::hex << address;
    }
    EXPECT_EQ(readReg(unit, tpiu::kType), 0x820u);
}

TEST(TraceRegisters, TpiuTypeValuesForProtocolAndFifoSize) {
    EXPECT_EQ(silicon::tpiuType(true, true, 2), 0xCA0u);
    EXPECT_EQ(silicon::tpiuType(true, false, 2), 0x8A0u);
    EXPECT_EQ(silicon::tpiuType(false, true, 0), 0x420u);
    EXPECT_EQ(silicon::tpiuType(true, true, 7), 0xDE0u);
}

TEST(TraceLock, NormalLockOpensWithTheKeyOnlyAndClosesWithAnyOtherValue) {
    TraceUnit unit;
    EXPECT_EQ(readReg(unit, itm::kLsr), 3u);
    unit.write32(itm::kTer0, 0xFF, 0);
    unit.write32(itm::kTcr, 1, 0);
    unit.write32(itm::kTpr, 1, 0);
    EXPECT_EQ(readReg(unit, itm::kTer0), 0u) << "locked ITM took a write";
    EXPECT_EQ(readReg(unit, itm::kTcr), 0u);
    EXPECT_EQ(readReg(unit, itm::kTpr), 0u);

    unit.write32(itm::kLar, kCoreSightLockKey + 1, 0);
    EXPECT_EQ(readReg(unit, itm::kLsr), 3u);
    unit.write32(itm::kLar, kCoreSightLockKey, 0);
    EXPECT_EQ(readReg(unit, itm::kLsr), 1u);
    unit.write32(itm::kTer0, 0xFF, 0);
    EXPECT_EQ(readReg(unit, itm::kTer0), 0xFFu);

    unit.write32(itm::kLar, 0, 0);
    EXPECT_EQ(readReg(unit, itm::kLsr), 3u);
    unit.write32(itm::kTer0, 0x1, 0);
    EXPECT_EQ(readReg(unit, itm::kTer0), 0xFFu);
}

TEST(TraceLock, TpiuHasNoLock) {
    TraceUnit unit;
    unit.write32(tpiu::kAcpr, 7, 0);
    EXPECT_EQ(readReg(unit, tpiu::kAcpr), 7u);
}

struct LockCase {
    ItmLockModel model;
    uint32_t lsrAtReset;
    uint32_t lsrAfterKey;
    bool writesBeforeKey;
    bool writesAfterKey;
};

TEST(TraceLock, LockModelVariants) {
    const LockCase cases[] = {
        {ItmLockModel::Normal, 3, 1, false, true},
        {ItmLockModel::OpenFromStart, 1, 1, true, true},
        {ItmLockModel::KeyIgnored, 3, 3, false, false},
        {ItmLockModel::ShowsLockedAlways, 3, 3, false, true},
        {ItmLockModel::NotImplemented, 0, 0, true, true},
    };
    for (const LockCase& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.model));
        TraceConfig config;
        config.itmLock = c.model;
        TraceUnit unit(config);
        EXPECT_EQ(readReg(unit, itm::kLsr), c.lsrAtReset);
        unit.write32(itm::kTer0, 0x3, 0);
        EXPECT_EQ(readReg(unit, itm::kTer0), c.writesBeforeKey ? 0x3u : 0u);
        unit.write32(itm::kLar, kCoreSightLockKey, 0);
        EXPECT_EQ(readReg(unit, itm::kLsr), c.lsrAfterKey);
        unit.write32(itm::kTer0, 0x5, 0);
        EXPECT_EQ(readReg(unit, itm::kTer0),
                  c.writesAfterKey ? 0x5u : (c.writesBeforeKey ? 3u : 0u));
    }
}

TEST(TraceLock, PowerOnResetLocksAgainAndRestoresResetValues) {
    TraceUnit unit;
    tracetest::setUpSwo(unit);
    unit.write32(tpiu::kFfcr, 0x100, 0);
    unit.powerOnReset(10);
    EXPECT_EQ(readReg(unit, itm::kLsr, 10), 3u);
    EXPECT_EQ(readReg(unit, itm::kTcr, 10), 0u);
    EXPECT_EQ(readReg(unit, itm::kTer0, 10), 0u);
    EXPECT_EQ(readReg(unit, tpiu::kAcpr, 10), 0u);
    EXPECT_EQ(readReg(unit, tpiu::kSppr, 10), 1u);
    EXPECT_EQ(readReg(unit, tpiu::kFfcr, 10), 0x102u);
}

// The host's verified write: replace the mask bits by value, read back, compare.
bool checkWrite(TraceUnit& unit, uint32_t address, uint32_t mask, uint32_t value) {
    const uint32_t old = readReg(unit, address);
    unit.write32(address, (old & ~mask) + value, 0);
    return (readReg(unit, address) & mask) == value;
}

TEST(TraceRegisters, HostSetupSequenceVerifiesOnTheDefaultSilicon) {
    TraceUnit unit;
    unit.activityChanged(0, tracetest::kHalted);
    ASSERT_NE(readReg(unit, itm::kLsr), 1u);
    unit.write32(itm::kLar, kCoreSightLockKey, 0);
    ASSERT_EQ(readReg(unit, itm::kLsr), 1u);
    const uint32_t type = readReg(unit, tpiu::kType);
    EXPECT_TRUE(type & (1u << 11));
    EXPECT_TRUE(type & (1u << 10));
    EXPECT_EQ((type >> 6) & 7u, 2u);
    EXPECT_TRUE(checkWrite(unit, tpiu::kAcpr, 0xFFFF, 35));
    EXPECT_TRUE(checkWrite(unit, tpiu::kSppr, 0x3, 2));
    readReg(unit, itm::kTpr);
    EXPECT_TRUE(checkWrite(unit, itm::kTer0, 0x3, 0x3));
    EXPECT_TRUE(checkWrite(unit, itm::kTcr, 0xA1F, 1));
    EXPECT_TRUE(checkWrite(unit, itm::kTer0, 0, 0));
    EXPECT_FALSE(checkWrite(unit, tpiu::kAcpr, 0xFFFF, 0x10000))
        << "prescaler 65537 must not verify";
}

TEST(TraceRegisters, HostSetupFailsToVerifyWhenTheKeyIsIgnored) {
    TraceConfig config;
    config.itmLock = ItmLockModel::KeyIgnored;
    TraceUnit unit(config);
    unit.write32(itm::kLar, kCoreSightLockKey, 0);
    EXPECT_TRUE(checkWrite(unit, tpiu::kAcpr, 0xFFFF, 35));
    EXPECT_FALSE(checkWrite(unit, itm::kTer0, 0x1, 0x1));
}

TEST(TraceRegisters, StimulusReadShowsFifoReadyAndTcrShowsBusy) {
    TraceConfig config;
    config.program = IdleTraceProgram{};
    config.itmFifoBytes = 10;
    TraceUnit unit(config);
    tracetest::setUpSwo(unit);
    EXPECT_EQ(readReg(unit, itm::kStimBase), 1u);
    EXPECT_EQ(readReg(unit, itm::kTcr) & itm::kTcrBusy, 0u);
    unit.write32(itm::kStimBase, 0x11223344, 0);  // 5 bytes: one on the line, four queued
    EXPECT_EQ(readReg(unit, itm::kStimBase), 1u);
    unit.write32(itm::kStimBase, 0x11223344, 0);  // nine queued: no room for another word
    EXPECT_EQ(readReg(unit, itm::kStimBase + 4), 0u);
    EXPECT_NE(readReg(unit, itm::kTcr) & itm::kTcrBusy, 0u);
    EXPECT_EQ(readReg(unit, itm::kTcr) & ~itm::kTcrBusy, 1u);
    // Ten bytes of 5 us each: the last one leaves at 50 us.
    EXPECT_NE(readReg(unit, itm::kTcr, 49) & itm::kTcrBusy, 0u);
    EXPECT_EQ(readReg(unit, itm::kStimBase, 50), 1u);
    EXPECT_EQ(readReg(unit, itm::kTcr, 50), 1u);
}

}  // namespace
}  // namespace dravik::sim
