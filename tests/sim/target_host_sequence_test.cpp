// The host's halt and reset sequences replayed against the model, one register access at a time,
// to show that each outcome the host tells apart can be produced: halted, held in reset, locked up
// (cured by a second halt request or not), sleeping, never halting. Waits are bounded by sample
// counts instead of the host's wall clock.

#include "target_fixture.h"

namespace dravik::sim::testing {
namespace {

namespace dhcsr = reg::dhcsr;

enum class Status { Running = 0, Halted = 1, Lockup = 2, Sleep = 3, Reset = 4 };

// The host's decoding order: reset before halt before lock-up before sleep.
Status decode(uint32_t v) {
    if (v & dhcsr::kSResetSt) {
        return Status::Reset;
    }
    if (v & dhcsr::kSHalt) {
        return Status::Halted;
    }
    if (v & dhcsr::kSLockup) {
        return Status::Lockup;
    }
    if (v & dhcsr::kSSleep) {
        return Status::Sleep;
    }
    return Status::Running;
}

constexpr int kSamples = 20;

int forceDebug(TargetHarness& h) {
    Status state = Status::Running;
    for (int i = 0; i < kSamples && state != Status::Halted; ++i) {
        h.write32(reg::kDhcsr, kDhcsrHalt);
        state = decode(h.dhcsr());
    }
    if (state == Status::Halted) {
        return 0;
    }
    if (state == Status::Reset) {
        state = decode(h.dhcsr());
        return state == Status::Reset ? 17 : state == Status::Halted ? 0 : 18;
    }
    return 18;
}

int reset(TargetHarness& h, bool systemReset) {
    h.write32(reg::kDemcr, reg::demcr::kVcCorereset);
    h.write32(reg::kAircr, systemReset ? kAircrSysReset : kAircrVectReset);
    bool seen = false;
    for (int i = 0; i < kSamples && !seen; ++i) {
        seen = decode(h.dhcsr()) == Status::Reset;
    }
    if (!seen) {
        return 16;
    }
    Status state = Status::Reset;
    for (int i = 0; i < kSamples && state == Status::Reset; ++i) {
        h.nowUs += 10;
        state = decode(h.dhcsr());
    }
    int result = 0;
    switch (state) {
        case Status::Reset:
            result = 17;
            break;
        case Status::Halted:
            break;
        case Status::Lockup:
            h.write32(reg::kDhcsr, kDhcsrHalt);
            result = decode(h.dhcsr()) == Status::Halted ? 0 : 18;
            break;
        case Status::Running:
        case Status::Sleep:
            result = 18;
            break;
    }
    if (result == 0 || result == 17) {
        const RegisterAccess written =
            h.core.writeCoreRegister(reg::regsel::kXpsr, silicon::kXpsrAfterReset, h.tick());
        if (result == 0 && written != RegisterAccess::Ok &&
            written != RegisterAccess::VerifyFailed) {
            result = 19;
        }
    }
    if (result != 0 && result != 17) {
        return result;
    }
    h.write32(reg::kDemcr, 0);
    return result;
}

struct SequenceCase {
    const char* what;
    TargetScenario scenario;
    uint64_t resetDurationUs;
    int forceDebugResult;
    int resetResult;
    RunState after;
};

TargetScenario make(void (*set)(TargetScenario&)) {
    TargetScenario s;
    set(s);
    return s;
}

class TargetHostSequence : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(TargetHostSequence, HaltThenResetEndsAsTheHostExpects) {
    const SequenceCase c = GetParam();
    TargetConfig config;
    config.scenario = c.scenario;
    config.resetDurationUs = c.resetDurationUs;
    TargetHarness h(config);

    EXPECT_EQ(forceDebug(h), c.forceDebugResult);
    for (bool systemReset : {true, false}) {
        EXPECT_EQ(reset(h, systemReset), c.resetResult) << systemReset;
        EXPECT_EQ(h.core.runState(), c.after);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, TargetHostSequence,
    ::testing::Values(
        SequenceCase{"healthy", TargetScenario{}, 0, 0, 0, RunState::Halted},
        SequenceCase{"slow reset", TargetScenario{}, 55, 0, 0, RunState::Halted},
        SequenceCase{"stays in reset", make([](TargetScenario& s) { s.staysInReset = true; }), 0,
                     17, 17, RunState::InReset},
        SequenceCase{"lockup cured", make([](TargetScenario& s) {
                         s.lockupAfterReset = LockupAfterReset::HaltRecovers;
                     }),
                     0, 0, 0, RunState::Halted},
        SequenceCase{"lockup for good", make([](TargetScenario& s) {
                         s.lockupAfterReset = LockupAfterReset::Persistent;
                     }),
                     0, 18, 18, RunState::LockedUp},
        SequenceCase{"sleeps", make([](TargetScenario& s) { s.sleepsOnVectorCatch = true; }), 0, 0,
                     18, RunState::Sleeping},
        SequenceCase{"never halts", make([](TargetScenario& s) { s.neverHalts = true; }), 0, 18, 18,
                     RunState::Running},
        SequenceCase{"verify failure",
                     make([](TargetScenario& s) { s.failNextCoreRegisterWrite = true; }), 0, 0, 0,
                     RunState::Halted}),
    [](const ::testing::TestParamInfo<SequenceCase>& info) {
        std::string name = info.param.what;
        for (char& ch : name) {
            if (ch == ' ') {
                ch = '_';
            }
        }
        return name;
    });

}  // namespace
}  // namespace dravik::sim::testing
