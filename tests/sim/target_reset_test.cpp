// Resets: AIRCR requests with and without the key and the vector catch, what a reset clears and
// what survives it, power-on reset, the reset line and the reset duration.

#include "target_fixture.h"

namespace dravik::sim::testing {
namespace {

namespace dhcsr = reg::dhcsr;
namespace regsel = reg::regsel;

void dirtyCore(TargetHarness& h) {
    for (unsigned r = 0; r <= regsel::kPsp; ++r) {
        ASSERT_EQ(h.core.writeCoreRegister(r, 0x12345678, h.tick()), RegisterAccess::Ok) << r;
    }
    ASSERT_EQ(h.core.writeCoreRegister(regsel::kSpecial, 0x0001F001, h.tick()), RegisterAccess::Ok);
}

TEST(TargetReset, AircrReadsKeyStatusAndIgnoresUnkeyedWrites) {
    TargetHarness h;
    EXPECT_EQ(h.read32(reg::kAircr), silicon::kAircrReadReset);
    const uint32_t unkeyed[] = {0x00000004, 0x00000001, 0xFA050004, 0x05FB0004,
                                0x05FA0700 ^ 1u << 16};
    for (uint32_t value : unkeyed) {
        h.write32(reg::kAircr, value);
    }
    EXPECT_EQ(h.core.resetCount(), 0u);
    EXPECT_EQ(h.read32(reg::kAircr), silicon::kAircrReadReset);
    // A keyed write without a reset bit only sets PRIGROUP.
    h.write32(reg::kAircr, 0x05FA0500);
    EXPECT_EQ(h.core.resetCount(), 0u);
    EXPECT_EQ(h.read32(reg::kAircr), 0xFA050500u);
    (void)h.dhcsr();
    EXPECT_EQ(h.dhcsr() & dhcsr::kSResetSt, 0u);
}

struct ResetCase {
    uint32_t aircr;
    ResetKind kind;
};

class TargetAircrReset : public ::testing::TestWithParam<ResetCase> {};

TEST_P(TargetAircrReset, WithVectorCatchHaltsOnTheResetVector) {
    TargetHarness h;
    h.halt();
    dirtyCore(h);
    h.write32(reg::kDfsr, reg::dfsr::kAll);
    h.write32(reg::kDemcr, reg::demcr::kVcCorereset);
    (void)h.dhcsr();

    h.write32(reg::kAircr, GetParam().aircr);

    EXPECT_EQ(h.core.lastResetKind(), GetParam().kind);
    EXPECT_EQ(h.core.resetCount(), 1u);
    EXPECT_EQ(h.core.runState(), RunState::Halted);
    EXPECT_EQ(h.dhcsr(), dhcsr::kSResetSt | dhcsr::kSRegrdy | dhcsr::kSHalt | dhcsr::kCDebugen |
                             dhcsr::kCHalt);
    EXPECT_EQ(h.dhcsr() & dhcsr::kSResetSt, 0u);
    EXPECT_EQ(h.read32(reg::kDfsr), reg::dfsr::kVcatch);
    EXPECT_EQ(h.coreRegister(regsel::kDebugReturnAddress), 0x08000100u);
    EXPECT_EQ(h.coreRegister(regsel::kXpsr), 0x01000000u);
    EXPECT_EQ(h.coreRegister(regsel::kSp), 0x20020000u);
    EXPECT_EQ(h.coreRegister(regsel::kMsp), 0x20020000u);
    EXPECT_EQ(h.coreRegister(regsel::kLr), 0xFFFFFFFFu);
    EXPECT_EQ(h.coreRegister(regsel::kSpecial), 0u);
    EXPECT_EQ(h.coreRegister(0), 0u);
    EXPECT_EQ(h.coreRegister(12), 0u);
    EXPECT_EQ(h.read32(reg::kAircr), silicon::kAircrReadReset);
}

INSTANTIATE_TEST_SUITE_P(BothRequests, TargetAircrReset,
                         ::testing::Values(ResetCase{kAircrSysReset, ResetKind::SystemReset},
                                           ResetCase{kAircrVectReset, ResetKind::VectorReset}));

TEST(TargetReset, WithoutVectorCatchTheCoreRuns) {
    TargetHarness h;
    h.write32(reg::kDhcsr, kDhcsrRun);  // debug on, not halted
    h.write32(reg::kAircr, kAircrSysReset);
    EXPECT_EQ(h.core.runState(), RunState::Running);
    EXPECT_EQ(h.dhcsr(), dhcsr::kSResetSt | dhcsr::kSRetireSt | dhcsr::kCDebugen);
}

TEST(TargetReset, VectorCatchNeedsDebugEnable) {
    TargetHarness h;
    h.write32(reg::kDemcr, reg::demcr::kVcCorereset);
    h.write32(reg::kAircr, kAircrSysReset);
    EXPECT_EQ(h.core.runState(), RunState::Running);
}

TEST(TargetReset, PendingHaltRequestHaltsOutOfResetWithoutVectorCatch) {
    TargetHarness h;
    h.halt();
    h.write32(reg::kDfsr, reg::dfsr::kAll);
    h.write32(reg::kAircr, kAircrSysReset);
    EXPECT_EQ(h.core.runState(), RunState::Halted);
    EXPECT_EQ(h.read32(reg::kDfsr), reg::dfsr::kHalted);
    EXPECT_EQ(h.coreRegister(regsel::kDebugReturnAddress), 0x08000100u);
}

TEST(TargetReset, ThumbBitFollowsTheResetVector) {
    TargetConfig config;
    config.resetVector = 0x08000200;
    TargetHarness h(config);
    h.halt();
    h.write32(reg::kDemcr, reg::demcr::kVcCorereset);
    h.write32(reg::kAircr, kAircrSysReset);
    EXPECT_EQ(h.coreRegister(regsel::kXpsr), 0u);
    EXPECT_EQ(h.coreRegister(regsel::kDebugReturnAddress), 0x08000200u);
}

TEST(TargetReset, VectorTableIsReadAtEachReset) {
    TargetHarness h;
    const uint8_t table[] = {0x00, 0x10, 0x00, 0x20, 0x41, 0x02, 0x00, 0x08};
    ASSERT_TRUE(h.core.loadMemory(silicon::kFlashBase, table, sizeof table));
    h.halt();
    h.write32(reg::kDemcr, reg::demcr::kVcCorereset);
    h.write32(reg::kAircr, kAircrVectReset);
    EXPECT_EQ(h.coreRegister(regsel::kMsp), 0x20001000u);
    EXPECT_EQ(h.coreRegister(regsel::kDebugReturnAddress), 0x08000240u);
}

TEST(TargetReset, SystemResetKeepsDebugLogicAndMemoryButResetsTheSystemBlock) {
    TargetHarness h;
    h.halt();
    h.write32(reg::kDemcr, reg::demcr::kTrcena | reg::demcr::kVcCorereset | reg::demcr::kVcHarderr);
    h.write32(reg::kFpCtrl, 3);
    h.write32(reg::fpComp(1), 0x48000101);
    h.write32(reg::kVtor, 0x20000000);
    h.write32(reg::kScr, 0x16);
    h.write32(silicon::kSramBase + 0x40, 0xCAFEF00D);

    h.write32(reg::kAircr, kAircrSysReset);

    EXPECT_EQ(h.read32(reg::kDemcr),
              reg::demcr::kTrcena | reg::demcr::kVcCorereset | reg::demcr::kVcHarderr);
    EXPECT_EQ(h.read32(reg::kFpCtrl), silicon::kFpCtrlCortexM4 | 1u);
    EXPECT_EQ(h.read32(reg::fpComp(1)), 0x48000101u);
    EXPECT_EQ(h.core.peekDhcsr() & dhcsr::kCDebugen, dhcsr::kCDebugen);
    EXPECT_EQ(h.read32(silicon::kSramBase + 0x40), 0xCAFEF00Du);
    EXPECT_EQ(h.read32(reg::kVtor), silicon::kFlashBase);
    EXPECT_EQ(h.read32(reg::kScr), 0u);
    EXPECT_EQ(h.read32(reg::kCcr), silicon::kCcrReset);
}

TEST(TargetReset, PowerOnResetClearsDebugLogicToo) {
    TargetHarness h;
    h.halt();
    h.write32(reg::kDemcr, reg::demcr::kTrcena | reg::demcr::kVcCorereset);
    h.write32(reg::kFpCtrl, 3);
    h.write32(reg::fpComp(0), 0x48000101);
    h.write32(silicon::kSramBase, 0xCAFEF00D);

    h.core.powerOnReset(h.tick());

    EXPECT_EQ(h.core.lastResetKind(), ResetKind::PowerOn);
    EXPECT_EQ(h.core.runState(), RunState::Running);
    EXPECT_EQ(h.dhcsr(), dhcsr::kSResetSt | dhcsr::kSRetireSt);
    EXPECT_EQ(h.read32(reg::kDemcr), 0u);
    EXPECT_EQ(h.read32(reg::kDfsr), 0u);
    EXPECT_EQ(h.read32(reg::kFpCtrl), silicon::kFpCtrlCortexM4);
    EXPECT_EQ(h.read32(reg::fpComp(0)), 0u);
    EXPECT_EQ(h.read32(silicon::kSramBase), 0xCAFEF00Du);
}

TEST(TargetReset, ResetLineHoldsTheCoreUntilReleased) {
    TargetHarness h;
    h.halt();
    h.write32(reg::kDemcr, reg::demcr::kVcCorereset);
    h.core.setResetLine(true, h.tick());
    EXPECT_TRUE(h.core.resetLineAsserted());
    EXPECT_EQ(h.core.lastResetKind(), ResetKind::ResetLine);

    h.nowUs += 1'000'000;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(h.dhcsr(), dhcsr::kSResetSt | dhcsr::kCDebugen | dhcsr::kCHalt) << i;
        EXPECT_EQ(h.core.runState(), RunState::InReset);
    }
    uint32_t v = 0;
    EXPECT_EQ(h.core.readCoreRegister(regsel::kDebugReturnAddress, v, h.tick()),
              RegisterAccess::NotHalted);
    // Memory stays reachable while the core is held.
    EXPECT_EQ(h.read32(silicon::kFlashBase + 4), 0x08000101u);

    h.core.setResetLine(false, h.tick());
    EXPECT_FALSE(h.core.resetLineAsserted());
    EXPECT_EQ(h.core.runState(), RunState::Halted);
    EXPECT_EQ(h.dhcsr() & dhcsr::kSResetSt, dhcsr::kSResetSt);
    EXPECT_EQ(h.dhcsr() & dhcsr::kSResetSt, 0u);
    EXPECT_EQ(h.coreRegister(regsel::kDebugReturnAddress), 0x08000100u);
    EXPECT_EQ(h.core.resetCount(), 1u);
}

TEST(TargetReset, HaltRequestedUnderResetLineTakesEffectOnRelease) {
    TargetHarness h;
    h.core.setResetLine(true, h.tick());
    h.write32(reg::kDhcsr, kDhcsrHalt);
    EXPECT_EQ(h.core.runState(), RunState::InReset);
    h.core.setResetLine(false, h.tick());
    EXPECT_EQ(h.core.runState(), RunState::Halted);
}

TEST(TargetReset, AircrResetWhileLineHeldStaysHeld) {
    TargetHarness h;
    h.core.setResetLine(true, h.tick());
    h.write32(reg::kAircr, kAircrSysReset);
    EXPECT_EQ(h.core.runState(), RunState::InReset);
    h.nowUs += 10'000;
    h.core.advanceTo(h.tick());
    EXPECT_EQ(h.core.runState(), RunState::InReset);
    h.core.setResetLine(false, h.tick());
    EXPECT_EQ(h.core.runState(), RunState::Running);
}

TEST(TargetReset, ResetDurationKeepsTheCoreInResetUntilItElapses) {
    TargetConfig config;
    config.resetDurationUs = 100;
    CortexM core(config);
    ASSERT_EQ(core.write(reg::kDhcsr, AccessSize::Word, kDhcsrHalt, 10), BusStatus::Ok);
    ASSERT_EQ(core.write(reg::kDemcr, AccessSize::Word, reg::demcr::kVcCorereset, 10),
              BusStatus::Ok);
    ASSERT_EQ(core.write(reg::kAircr, AccessSize::Word, kAircrSysReset, 1000), BusStatus::Ok);

    uint32_t v = 0;
    for (uint64_t t : {1000u, 1050u, 1099u}) {
        ASSERT_EQ(core.read(reg::kDhcsr, AccessSize::Word, v, t), BusStatus::Ok);
        EXPECT_EQ(v & (dhcsr::kSResetSt | dhcsr::kSHalt), dhcsr::kSResetSt) << t;
    }
    core.advanceTo(1100);
    EXPECT_EQ(core.runState(), RunState::Halted);
    ASSERT_EQ(core.read(reg::kDhcsr, AccessSize::Word, v, 1100), BusStatus::Ok);
    EXPECT_EQ(v & (dhcsr::kSResetSt | dhcsr::kSHalt), dhcsr::kSResetSt | dhcsr::kSHalt);
    ASSERT_EQ(core.read(reg::kDhcsr, AccessSize::Word, v, 1101), BusStatus::Ok);
    EXPECT_EQ(v & (dhcsr::kSResetSt | dhcsr::kSHalt), dhcsr::kSHalt);
}

TEST(TargetReset, ResetDurationRunsFromTheLineRelease) {
    TargetConfig config;
    config.resetDurationUs = 50;
    CortexM core(config);
    core.setResetLine(true, 100);
    core.setResetLine(false, 500);
    core.advanceTo(549);
    EXPECT_EQ(core.runState(), RunState::InReset);
    // A time earlier than the model's counts as the model's.
    core.advanceTo(10);
    EXPECT_EQ(core.nowUs(), 549u);
    EXPECT_EQ(core.runState(), RunState::InReset);
    core.advanceTo(550);
    EXPECT_EQ(core.runState(), RunState::Running);
}

}  // namespace
}  // namespace dravik::sim::testing
