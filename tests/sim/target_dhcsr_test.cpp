// Halting debug through DHCSR: the key, halt, run and step, C_MASKINTS, the sticky status bits and
// DFSR.

#include "target_fixture.h"

namespace dravik::sim::testing {
namespace {

namespace dhcsr = reg::dhcsr;

constexpr uint32_t kHaltedStatus =
    dhcsr::kSRegrdy | dhcsr::kSHalt | dhcsr::kCDebugen | dhcsr::kCHalt;

TEST(TargetDhcsr, AfterPowerUpReportsResetOnceAndRetiresWhileRunning) {
    TargetHarness h;
    EXPECT_EQ(h.dhcsr(), dhcsr::kSResetSt | dhcsr::kSRetireSt);
    EXPECT_EQ(h.dhcsr(), dhcsr::kSRetireSt);
    EXPECT_EQ(h.core.runState(), RunState::Running);
}

TEST(TargetDhcsr, PeekLeavesStickyBitsAlone) {
    TargetHarness h;
    EXPECT_EQ(h.core.peekDhcsr(), dhcsr::kSResetSt | dhcsr::kSRetireSt);
    EXPECT_EQ(h.core.peekDhcsr(), dhcsr::kSResetSt | dhcsr::kSRetireSt);
    EXPECT_EQ(h.dhcsr(), dhcsr::kSResetSt | dhcsr::kSRetireSt);
}

TEST(TargetDhcsr, WritesWithoutTheDebugKeyAreIgnored) {
    const uint32_t wrongKeys[] = {0x00000003, 0xA05E0003, 0x5FA00003,
                                  0xA15F0003, 0xFFFF0003, 0xA05F0003 | dhcsr::kSRetireSt};
    for (uint32_t value : wrongKeys) {
        TargetHarness h;
        h.write32(reg::kDhcsr, value);
        EXPECT_EQ(h.core.runState(), RunState::Running) << std::hex << value;
        EXPECT_EQ(h.core.peekDhcsr() & 0xFFFF, 0u) << std::hex << value;
    }
}

TEST(TargetDhcsr, HaltNeedsDebugEnable) {
    TargetHarness h;
    h.write32(reg::kDhcsr, dhcsr::kDbgKey | dhcsr::kCHalt);
    EXPECT_EQ(h.core.runState(), RunState::Running);
    EXPECT_EQ(h.core.peekDhcsr() & 0xFFFF, 0u);
}

TEST(TargetDhcsr, HaltRunAndHaltAgain) {
    TargetHarness h;
    (void)h.dhcsr();
    h.halt();
    // The retirements before the halt are reported once.
    EXPECT_EQ(h.dhcsr(), kHaltedStatus | dhcsr::kSRetireSt);
    EXPECT_EQ(h.dhcsr(), kHaltedStatus);
    EXPECT_EQ(h.read32(reg::kDfsr), reg::dfsr::kHalted);

    h.write32(reg::kDhcsr, kDhcsrRun);
    EXPECT_EQ(h.core.runState(), RunState::Running);
    EXPECT_EQ(h.dhcsr(), dhcsr::kCDebugen | dhcsr::kSRetireSt);

    h.halt();
    EXPECT_EQ(h.dhcsr() & (dhcsr::kSHalt | dhcsr::kSRegrdy), dhcsr::kSHalt | dhcsr::kSRegrdy);
}

TEST(TargetDhcsr, StepRetiresOneInstructionAndEndsHalted) {
    TargetHarness h;
    h.halt();
    (void)h.dhcsr();
    const uint32_t pc = h.coreRegister(reg::regsel::kDebugReturnAddress);
    h.write32(reg::kDfsr, reg::dfsr::kAll);

    h.write32(reg::kDhcsr, kDhcsrStep);
    EXPECT_EQ(h.core.runState(), RunState::Halted);
    EXPECT_EQ(h.coreRegister(reg::regsel::kDebugReturnAddress), pc + 2);
    // Entering Debug state sets C_HALT again; C_STEP stays as written.
    EXPECT_EQ(h.dhcsr(), kHaltedStatus | dhcsr::kCStep | dhcsr::kSRetireSt);
    EXPECT_EQ(h.dhcsr(), kHaltedStatus | dhcsr::kCStep);
    EXPECT_EQ(h.read32(reg::kDfsr), reg::dfsr::kHalted);

    h.write32(reg::kDhcsr, kDhcsrStep);
    EXPECT_EQ(h.coreRegister(reg::regsel::kDebugReturnAddress), pc + 4);
}

TEST(TargetDhcsr, StepBitHasNoEffectWithHaltSetOrWhileRunning) {
    TargetHarness h;
    h.halt();
    const uint32_t pc = h.coreRegister(reg::regsel::kDebugReturnAddress);
    h.write32(reg::kDhcsr, dhcsr::kDbgKey | 0x0007);  // C_STEP with C_HALT kept
    EXPECT_EQ(h.core.runState(), RunState::Halted);
    EXPECT_EQ(h.coreRegister(reg::regsel::kDebugReturnAddress), pc);

    h.write32(reg::kDhcsr, kDhcsrRun);
    h.write32(reg::kDhcsr, kDhcsrStep);  // running: nothing to step from
    EXPECT_EQ(h.core.runState(), RunState::Running);
    h.halt();
    EXPECT_EQ(h.coreRegister(reg::regsel::kDebugReturnAddress), pc);
}

TEST(TargetDhcsr, MaskIntsChangesOnlyWhileHaltedWithHaltKept) {
    TargetHarness h;
    h.write32(reg::kDhcsr, dhcsr::kDbgKey | 0x0009);  // running: ignored
    EXPECT_EQ(h.core.peekDhcsr() & dhcsr::kCMaskints, 0u);

    h.halt();
    h.write32(reg::kDhcsr, dhcsr::kDbgKey | 0x000B);
    EXPECT_NE(h.core.peekDhcsr() & dhcsr::kCMaskints, 0u);
    h.write32(reg::kDhcsr, kDhcsrStep);  // C_HALT cleared in the same write: no change
    EXPECT_NE(h.core.peekDhcsr() & dhcsr::kCMaskints, 0u);
    h.write32(reg::kDhcsr, kDhcsrHalt);
    EXPECT_EQ(h.core.peekDhcsr() & dhcsr::kCMaskints, 0u);
}

// The host's single step: set C_MASKINTS, step, wait for S_RETIRE_ST to fall, clear C_STEP and
// C_MASKINTS keeping the rest. Every write carries the key over the control bits read, so the
// sticky S_RETIRE_ST of the halt (read in the first step) does not spoil it.
TEST(TargetDhcsr, HostStepSequenceEndsHaltedOneInstructionLater) {
    TargetHarness h;
    h.halt();
    const uint32_t pc = h.coreRegister(reg::regsel::kDebugReturnAddress);

    uint32_t v = h.dhcsr();
    ASSERT_NE(v & dhcsr::kSRetireSt, 0u);
    h.write32(reg::kDhcsr, dhcsr::kDbgKey | (v & 0xFFFFu) | 0x0008);
    ASSERT_NE(h.core.peekDhcsr() & dhcsr::kCMaskints, 0u);
    h.write32(reg::kDhcsr, kDhcsrStep);
    v = h.dhcsr();
    ASSERT_NE(v & 0x01030001u, 0u);
    int reads = 0;
    while ((v & dhcsr::kSRetireSt) != 0 && reads < 10) {
        v = h.dhcsr();
        ++reads;
    }
    EXPECT_EQ(reads, 1);
    v = h.dhcsr();
    h.write32(reg::kDhcsr, dhcsr::kDbgKey | (v & 0xFFF3u));

    EXPECT_TRUE(h.core.lastStepMasked());
    EXPECT_EQ(h.core.runState(), RunState::Halted);
    EXPECT_EQ(h.coreRegister(reg::regsel::kDebugReturnAddress), pc + 2);
    EXPECT_EQ(h.dhcsr(), kHaltedStatus);
}

TEST(TargetDhcsr, ClearingDebugEnableResumesAndDropsControlBits) {
    TargetHarness h;
    (void)h.dhcsr();
    h.halt();
    h.write32(reg::kDhcsr, dhcsr::kDbgKey | 0x000B);
    h.write32(reg::kDhcsr, dhcsr::kDbgKey);
    EXPECT_EQ(h.core.runState(), RunState::Running);
    EXPECT_EQ(h.dhcsr(), dhcsr::kSRetireSt);
}

TEST(TargetDhcsr, DfsrBitsClearOnWritingOne) {
    TargetHarness h;
    h.halt();
    EXPECT_EQ(h.read32(reg::kDfsr), reg::dfsr::kHalted);
    h.write32(reg::kDfsr, reg::dfsr::kVcatch);
    EXPECT_EQ(h.read32(reg::kDfsr), reg::dfsr::kHalted);
    h.write32(reg::kDfsr, reg::dfsr::kHalted);
    EXPECT_EQ(h.read32(reg::kDfsr), 0u);
}

TEST(TargetDhcsr, DemcrKeepsArchitecturalBitsOnly) {
    TargetHarness h;
    h.write32(reg::kDemcr, 0xFFFFFFFF);
    EXPECT_EQ(h.read32(reg::kDemcr), 0x010F07F1u);
    EXPECT_EQ(h.core.demcr(), 0x010F07F1u);
    EXPECT_TRUE(h.core.activity().trcena);
    h.write32(reg::kDemcr, 0);
    EXPECT_FALSE(h.core.activity().trcena);
}

}  // namespace
}  // namespace dravik::sim::testing
