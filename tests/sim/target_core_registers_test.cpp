// Core and FPU registers: REGSEL numbering, Debug-state-only access, the bits the architecture
// keeps at zero, stack pointer banking, DCRSR/DCRDR and the one-shot verification failure.

#include "target_fixture.h"

namespace dravik::sim::testing {
namespace {

namespace regsel = reg::regsel;

TEST(TargetCoreRegisters, EveryAssignedRegisterIsReadableAndWritableWhileHalted) {
    TargetHarness h;
    h.halt();
    for (unsigned r = 0; r <= regsel::kR12; ++r) {
        ASSERT_EQ(h.core.writeCoreRegister(r, 0x1000u + r, h.tick()), RegisterAccess::Ok);
    }
    ASSERT_EQ(h.core.writeCoreRegister(regsel::kLr, 0x08000123, h.tick()), RegisterAccess::Ok);
    for (unsigned r = 0; r <= regsel::kR12; ++r) {
        EXPECT_EQ(h.coreRegister(r), 0x1000u + r);
    }
    EXPECT_EQ(h.coreRegister(regsel::kLr), 0x08000123u);
}

struct MaskCase {
    unsigned regsel;
    uint32_t written;
    uint32_t readBack;
};

class TargetCoreRegisterMask : public ::testing::TestWithParam<MaskCase> {};

TEST_P(TargetCoreRegisterMask, KeepsOnlyImplementedBits) {
    const MaskCase c = GetParam();
    TargetHarness h;
    h.halt();
    ASSERT_EQ(h.core.writeCoreRegister(c.regsel, c.written, h.tick()), RegisterAccess::Ok);
    EXPECT_EQ(h.coreRegister(c.regsel), c.readBack);
}

INSTANTIATE_TEST_SUITE_P(Architectural, TargetCoreRegisterMask,
                         ::testing::Values(MaskCase{regsel::kMsp, 0x20001003, 0x20001000},
                                           MaskCase{regsel::kPsp, 0x2000FFFF, 0x2000FFFC},
                                           MaskCase{regsel::kDebugReturnAddress, 0x08000201,
                                                    0x08000200},
                                           MaskCase{regsel::kXpsr, 0xFFFFFFFF, 0xFF0FFDFF},
                                           MaskCase{regsel::kXpsr, 0x61000003, 0x61000003},
                                           MaskCase{regsel::kSpecial, 0xFFFFFFFF, 0x0701F001}));

TEST(TargetCoreRegisters, SpecialWordWithoutFpuHasNoFpca) {
    TargetConfig config;
    config.hasFpu = false;
    TargetHarness h(config);
    h.halt();
    ASSERT_EQ(h.core.writeCoreRegister(regsel::kSpecial, 0xFFFFFFFF, h.tick()), RegisterAccess::Ok);
    EXPECT_EQ(h.coreRegister(regsel::kSpecial), 0x0301F001u);
    uint32_t v = 0;
    EXPECT_EQ(h.core.readFpuRegister(0, v, h.tick()), RegisterAccess::NoSuchRegister);
    EXPECT_EQ(h.core.writeFpuRegister(32, 0, h.tick()), RegisterAccess::NoSuchRegister);
}

TEST(TargetCoreRegisters, SpFollowsSpselInThreadModeOnly) {
    TargetHarness h;
    h.halt();
    ASSERT_EQ(h.core.writeCoreRegister(regsel::kMsp, 0x20000100, h.tick()), RegisterAccess::Ok);
    ASSERT_EQ(h.core.writeCoreRegister(regsel::kPsp, 0x20000200, h.tick()), RegisterAccess::Ok);
    EXPECT_EQ(h.coreRegister(regsel::kSp), 0x20000100u);

    ASSERT_EQ(h.core.writeCoreRegister(regsel::kSpecial, 0x02000000, h.tick()), RegisterAccess::Ok);
    EXPECT_EQ(h.coreRegister(regsel::kSp), 0x20000200u);
    ASSERT_EQ(h.core.writeCoreRegister(regsel::kSp, 0x20000300, h.tick()), RegisterAccess::Ok);
    EXPECT_EQ(h.coreRegister(regsel::kPsp), 0x20000300u);
    EXPECT_EQ(h.coreRegister(regsel::kMsp), 0x20000100u);

    // Handler mode (exception number in IPSR) always uses the main stack.
    ASSERT_EQ(h.core.writeCoreRegister(regsel::kXpsr, 0x0100000B, h.tick()), RegisterAccess::Ok);
    EXPECT_EQ(h.coreRegister(regsel::kSp), 0x20000100u);
}

TEST(TargetCoreRegisters, UnassignedNumbersAreRefusedEvenWhileRunning) {
    TargetHarness h;
    uint32_t v = 0xAAAA;
    for (unsigned r : {19u, 21u, 33u, 64u, 255u}) {
        EXPECT_EQ(h.core.readCoreRegister(r, v, h.tick()), RegisterAccess::NoSuchRegister) << r;
        EXPECT_EQ(h.core.writeCoreRegister(r, 0, h.tick()), RegisterAccess::NoSuchRegister) << r;
    }
    EXPECT_EQ(v, 0xAAAAu);
}

TEST(TargetCoreRegisters, AccessOutsideDebugStateIsRefusedAndChangesNothing) {
    TargetHarness h;
    h.halt();
    ASSERT_EQ(h.core.writeCoreRegister(0, 0x11111111, h.tick()), RegisterAccess::Ok);
    h.write32(reg::kDhcsr, kDhcsrRun);
    EXPECT_FALSE(h.core.coreRegistersAccessible());

    uint32_t v = 0xAAAA;
    EXPECT_EQ(h.core.readCoreRegister(0, v, h.tick()), RegisterAccess::NotHalted);
    EXPECT_EQ(h.core.writeCoreRegister(0, 0x22222222, h.tick()), RegisterAccess::NotHalted);
    EXPECT_EQ(h.core.readFpuRegister(0, v, h.tick()), RegisterAccess::NotHalted);
    EXPECT_EQ(h.core.writeFpuRegister(0, 1, h.tick()), RegisterAccess::NotHalted);
    EXPECT_EQ(v, 0xAAAAu);
    // DCRSR requests are dropped too.
    h.write32(reg::kDcrdr, 0x33333333);
    h.write32(reg::kDcrsr, reg::dcrsr::kRegWnR | 0);
    EXPECT_EQ(h.read32(reg::kDcrdr), 0x33333333u);

    h.halt();
    EXPECT_TRUE(h.core.coreRegistersAccessible());
    EXPECT_EQ(h.coreRegister(0), 0x11111111u);
}

TEST(TargetCoreRegisters, FpuWordsAndFpscr) {
    TargetHarness h;
    h.halt();
    for (unsigned i = 0; i < 32; ++i) {
        ASSERT_EQ(h.core.writeFpuRegister(i, 0x3F800000u + i, h.tick()), RegisterAccess::Ok);
    }
    ASSERT_EQ(h.core.writeFpuRegister(32, 0xFFFFFFFF, h.tick()), RegisterAccess::Ok);
    uint32_t v = 0;
    for (unsigned i = 0; i < 32; ++i) {
        ASSERT_EQ(h.core.readFpuRegister(i, v, h.tick()), RegisterAccess::Ok);
        EXPECT_EQ(v, 0x3F800000u + i);
    }
    ASSERT_EQ(h.core.readFpuRegister(32, v, h.tick()), RegisterAccess::Ok);
    EXPECT_EQ(v, 0xF7C0009Fu);
    EXPECT_EQ(h.core.readFpuRegister(33, v, h.tick()), RegisterAccess::NoSuchRegister);
}

TEST(TargetCoreRegisters, DcrsrAndDcrdrTransferRegisters) {
    TargetHarness h;
    h.halt();
    EXPECT_NE(h.dhcsr() & reg::dhcsr::kSRegrdy, 0u);

    h.write32(reg::kDcrdr, 0x20004000);
    h.write32(reg::kDcrsr, reg::dcrsr::kRegWnR | regsel::kPsp);
    EXPECT_EQ(h.coreRegister(regsel::kPsp), 0x20004000u);

    ASSERT_EQ(h.core.writeCoreRegister(7, 0xFEEDFACE, h.tick()), RegisterAccess::Ok);
    h.write32(reg::kDcrsr, 7);
    EXPECT_EQ(h.read32(reg::kDcrdr), 0xFEEDFACEu);
    EXPECT_NE(h.dhcsr() & reg::dhcsr::kSRegrdy, 0u);

    h.write32(reg::kDcrdr, 0x40490FDB);
    h.write32(reg::kDcrsr, reg::dcrsr::kRegWnR | (regsel::kS0 + 5));
    uint32_t v = 0;
    ASSERT_EQ(h.core.readFpuRegister(5, v, h.tick()), RegisterAccess::Ok);
    EXPECT_EQ(v, 0x40490FDBu);
    ASSERT_EQ(h.core.writeFpuRegister(32, 0x00000001, h.tick()), RegisterAccess::Ok);
    h.write32(reg::kDcrsr, regsel::kFpscr);
    EXPECT_EQ(h.read32(reg::kDcrdr), 0x00000001u);

    // An unassigned selector leaves DCRDR alone.
    h.write32(reg::kDcrsr, regsel::kUnassigned);
    EXPECT_EQ(h.read32(reg::kDcrdr), 0x00000001u);
}

TEST(TargetCoreRegisters, VerificationFailureIsOneShotAndTheWriteHappens) {
    TargetScenario scenario;
    scenario.failNextCoreRegisterWrite = true;
    TargetConfig config;
    config.scenario = scenario;
    TargetHarness h(config);

    // A refused write does not use it up.
    EXPECT_EQ(h.core.writeCoreRegister(regsel::kXpsr, 0x01000000, h.tick()),
              RegisterAccess::NotHalted);
    h.halt();
    EXPECT_EQ(h.core.writeCoreRegister(regsel::kXpsr, 0x01000000, h.tick()),
              RegisterAccess::VerifyFailed);
    EXPECT_EQ(h.coreRegister(regsel::kXpsr), 0x01000000u);
    EXPECT_EQ(h.core.writeCoreRegister(regsel::kXpsr, 0x01000000, h.tick()), RegisterAccess::Ok);

    h.core.failNextCoreRegisterWrite();
    EXPECT_EQ(h.core.writeCoreRegister(0, 5, h.tick()), RegisterAccess::VerifyFailed);
    EXPECT_EQ(h.coreRegister(0), 5u);
    EXPECT_EQ(h.core.writeCoreRegister(0, 6, h.tick()), RegisterAccess::Ok);
}

}  // namespace
}  // namespace dravik::sim::testing
