// The misbehaving targets a test can ask for: stuck in reset, locked up out of reset, never
// halting, sleeping instead of halting on the vector catch, idling in WFI.

#include "target_fixture.h"

namespace dravik::sim::testing {
namespace {

namespace dhcsr = reg::dhcsr;

TargetConfig withScenario(const TargetScenario& scenario) {
    TargetConfig config;
    config.scenario = scenario;
    return config;
}

void requestResetWithVectorCatch(TargetHarness& h) {
    h.write32(reg::kDhcsr, kDhcsrHalt);
    h.write32(reg::kDemcr, reg::demcr::kVcCorereset);
    h.write32(reg::kAircr, kAircrSysReset);
}

TEST(TargetScenario, StaysInResetFromTheStartAndThroughEveryReset) {
    TargetScenario scenario;
    scenario.staysInReset = true;
    TargetHarness h(withScenario(scenario));
    EXPECT_EQ(h.core.runState(), RunState::InReset);
    requestResetWithVectorCatch(h);
    h.core.setResetLine(true, h.tick());
    h.core.setResetLine(false, h.tick());
    h.nowUs += 5'000'000;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(h.dhcsr(), dhcsr::kSResetSt | dhcsr::kCDebugen | dhcsr::kCHalt) << i;
    }
    EXPECT_EQ(h.core.runState(), RunState::InReset);
    EXPECT_FALSE(h.core.activity().running);
}

TEST(TargetScenario, LockupThatAHaltRequestEnds) {
    TargetScenario scenario;
    scenario.lockupAfterReset = LockupAfterReset::HaltRecovers;
    TargetHarness h(withScenario(scenario));
    EXPECT_EQ(h.core.runState(), RunState::LockedUp);
    EXPECT_EQ(h.dhcsr(), dhcsr::kSResetSt | dhcsr::kSLockup);
    EXPECT_FALSE(h.core.activity().running);

    h.halt();
    EXPECT_EQ(h.dhcsr(), dhcsr::kSRegrdy | dhcsr::kSHalt | dhcsr::kCDebugen | dhcsr::kCHalt);

    // Out of the next reset it locks up again although the vector catch is set and C_HALT kept;
    // only a new halt request ends it.
    requestResetWithVectorCatch(h);
    EXPECT_EQ(h.core.runState(), RunState::LockedUp);
    EXPECT_EQ(h.dhcsr(), dhcsr::kSResetSt | dhcsr::kSLockup | dhcsr::kCDebugen | dhcsr::kCHalt);
    EXPECT_EQ(h.dhcsr(), dhcsr::kSLockup | dhcsr::kCDebugen | dhcsr::kCHalt);
    h.write32(reg::kDhcsr, kDhcsrHalt);
    EXPECT_EQ(h.core.runState(), RunState::Halted);
    EXPECT_EQ(h.dhcsr() & dhcsr::kSLockup, 0u);
}

TEST(TargetScenario, LockupThatHaltRequestsCannotEnd) {
    TargetScenario scenario;
    scenario.lockupAfterReset = LockupAfterReset::Persistent;
    TargetHarness h(withScenario(scenario));
    requestResetWithVectorCatch(h);
    h.write32(reg::kDhcsr, kDhcsrHalt);
    h.write32(reg::kDhcsr, kDhcsrHalt);
    EXPECT_EQ(h.core.runState(), RunState::LockedUp);
    (void)h.dhcsr();
    EXPECT_EQ(h.dhcsr(), dhcsr::kSLockup | dhcsr::kCDebugen | dhcsr::kCHalt);
}

TEST(TargetScenario, NeverHaltsOnRequestNorOnVectorCatch) {
    TargetScenario scenario;
    scenario.neverHalts = true;
    TargetHarness h(withScenario(scenario));
    h.write32(reg::kDhcsr, kDhcsrHalt);
    EXPECT_EQ(h.core.runState(), RunState::Running);
    (void)h.dhcsr();
    EXPECT_EQ(h.dhcsr(), dhcsr::kSRetireSt | dhcsr::kCDebugen | dhcsr::kCHalt);
    requestResetWithVectorCatch(h);
    EXPECT_EQ(h.core.runState(), RunState::Running);
    uint32_t v = 0;
    EXPECT_EQ(h.core.readCoreRegister(0, v, h.tick()), RegisterAccess::NotHalted);
}

TEST(TargetScenario, SleepsWhereTheVectorCatchWouldHaltUntilAHaltRequest) {
    TargetScenario scenario;
    scenario.sleepsOnVectorCatch = true;
    TargetHarness h(withScenario(scenario));
    requestResetWithVectorCatch(h);
    EXPECT_EQ(h.core.runState(), RunState::Sleeping);
    EXPECT_EQ(h.dhcsr(), dhcsr::kSResetSt | dhcsr::kSSleep | dhcsr::kCDebugen | dhcsr::kCHalt);
    EXPECT_EQ(h.dhcsr(), dhcsr::kSSleep | dhcsr::kCDebugen | dhcsr::kCHalt);
    const CoreActivity activity = h.core.activity();
    EXPECT_TRUE(activity.running);
    EXPECT_TRUE(activity.sleeping);

    h.write32(reg::kDhcsr, kDhcsrHalt);
    EXPECT_EQ(h.core.runState(), RunState::Halted);
    EXPECT_EQ(h.coreRegister(reg::regsel::kDebugReturnAddress), 0x08000100u);

    // Without a reason to halt out of reset it simply runs.
    h.write32(reg::kDemcr, 0);
    h.write32(reg::kDhcsr, kDhcsrRun);
    h.write32(reg::kAircr, kAircrSysReset);
    EXPECT_EQ(h.core.runState(), RunState::Running);
}

TEST(TargetScenario, IdlesInWfiWheneverItRuns) {
    TargetScenario scenario;
    scenario.idlesInWfi = true;
    TargetHarness h(withScenario(scenario));
    EXPECT_EQ(h.core.runState(), RunState::Sleeping);
    EXPECT_EQ(h.dhcsr(), dhcsr::kSResetSt | dhcsr::kSSleep);
    h.halt();
    EXPECT_EQ(h.dhcsr(), dhcsr::kSRegrdy | dhcsr::kSHalt | dhcsr::kCDebugen | dhcsr::kCHalt);
    h.write32(reg::kDhcsr, kDhcsrRun);
    EXPECT_EQ(h.dhcsr(), dhcsr::kSSleep | dhcsr::kCDebugen);
}

}  // namespace
}  // namespace dravik::sim::testing
