// Run control and reset: status decoding, the halt sequence, the reset waits and sequence, run and
// step, and the probe's reset commands; on the wire and against the target model. The tests that
// wait for a 2 s bound are grouped in RunControlTimeoutTest.
#include <gtest/gtest.h>

#include <vector>

#include "TargetFixture.h"

namespace dravik::test {
namespace {

using sim::ScriptedAnswer;

constexpr uint32_t kDhcsr = armv7m::kDhcsr;
constexpr uint32_t kDemcr = armv7m::kDemcr;
constexpr uint32_t kAircr = armv7m::kAircr;

constexpr uint32_t kHalt = 0xA05F0003;
constexpr uint32_t kSysResetReq = 0x05FA0004;
constexpr uint32_t kVectReset = 0x05FA0001;

// DHCSR readings.
constexpr uint32_t kRunning = 0x01000001;  // S_RETIRE_ST, C_DEBUGEN
constexpr uint32_t kHalted = 0x00030003;   // S_HALT, S_REGRDY, C_HALT, C_DEBUGEN
constexpr uint32_t kInReset = 0x02000001;  // S_RESET_ST, C_DEBUGEN

const ExpectedCommand kXpsrWrite = In({0xF2, 0x34, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00}, 2);

class RunControlTest : public TargetTest {
  protected:
    void ReadStickyBitsAway() {
        uint32_t ignored = 0;
        ASSERT_EQ(sim::BusStatus::Ok, Target().read(kDhcsr, sim::AccessSize::Word, ignored, Now()));
    }
    // Halts the model and clears the sticky DHCSR bits, as a connected debugger leaves it.
    void HaltSettled() {
        HaltTarget();
        ReadStickyBitsAway();
    }
    void ScriptDhcsr(std::initializer_list<uint32_t> values) {
        for (uint32_t value : values) {
            bench().script(DebugReadAnswer(kDhcsr, value));
        }
    }
    uint32_t Xpsr() {
        uint32_t value = 0;
        EXPECT_EQ(sim::RegisterAccess::Ok,
                  Target().readCoreRegister(armv7m::regsel::kXpsr, value, Now()));
        return value;
    }
};

// ---- GetStatus

TEST_F(RunControlTest, StatusIsDecodedResetFirstThenHaltLockupSleep) {
    DbgDev& dev = Connect();
    const struct {
        uint32_t dhcsr;
        Device_StatusT status;
    } cases[] = {
        {0x02020000, DEVICE_RESET},   {0x02000000, DEVICE_RESET}, {0x000E0000, DEVICE_HALTED},
        {0x000C0000, DEVICE_LOCKUP},  {0x00040000, DEVICE_SLEEP}, {0x01010001, DEVICE_RUNNING},
        {0x00000000, DEVICE_RUNNING}, {0xFFF1FFFF, DEVICE_RESET},
    };
    for (const auto& c : cases) {
        ScriptDhcsr({c.dhcsr});
        Device_StatusT status = DEVICE_SLEEP;
        EXPECT_EQ(0, dev.GetStatus(&status, 0)) << std::hex << c.dhcsr;
        EXPECT_EQ(c.status, status) << std::hex << c.dhcsr;
    }
    EXPECT_EQ(8u, bench().sends().size());
}

TEST_F(RunControlTest, StatusNeedsAPointerAndStaysRunningOnAFailedRead) {
    DbgDev& dev = Connect();
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.GetStatus(nullptr, 0));
    EXPECT_TRUE(bench().log().empty());
    bench().script(ScriptedAnswer::Transport(sim::drv::kFailure));
    Device_StatusT status = DEVICE_HALTED;
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.GetStatus(&status, 0));
    EXPECT_EQ(DEVICE_RUNNING, status);
}

// ---- ForceDebug

struct HaltCase {
    const char* name;
    std::vector<uint32_t> reads;  // DHCSR answers after the halt write
    bool secondReadFails;
    int result;
    const char* message;  // nullptr: none
};

TEST_F(RunControlTest, SingleHaltAttemptReadsOnceAndOnceMoreAfterReset) {
    const HaltCase cases[] = {
        {"halted", {kHalted}, false, 0, nullptr},
        {"running",
         {kRunning},
         false,
         18,
         "Target is neither HALTED nor under RESET after init sequence (status=0)"},
        {"locked up",
         {0x00080001},
         false,
         18,
         "Target is neither HALTED nor under RESET after init sequence (status=2)"},
        {"reset, then halted", {kInReset, kHalted}, false, 0, nullptr},
        {"reset twice", {kInReset, kInReset}, false, 17, "Target is held under reset"},
        {"reset, then sleeping",
         {kInReset, 0x00040001},
         false,
         18,
         "Target not HALTED after halt sequence + reset (status=3)"},
        // The second look fails: reported as held in reset, the last state seen.
        {"reset, then no answer", {kInReset}, true, 17, "Target is held under reset"},
    };
    for (const HaltCase& c : cases) {
        SCOPED_TRACE(c.name);
        DbgDev& dev = Connect();
        for (uint32_t value : c.reads) {
            ScriptDhcsr({value});
        }
        if (c.secondReadFails) {
            bench().script(ScriptedAnswer::Transport(sim::drv::kFailure).When({0xF2, 0x36}));
        }
        EXPECT_EQ(c.result, dev.ForceDebug(0, 0));
        std::vector<ExpectedCommand> expected{DebugWrite(kDhcsr, kHalt)};
        for (size_t i = 0; i < c.reads.size() + (c.secondReadFails ? 1 : 0); ++i) {
            expected.push_back(DebugRead(kDhcsr));
        }
        EXPECT_TRUE(SentExactly(expected));
        if (c.message != nullptr) {
            EXPECT_EQ(c.message, log_.last());
        } else {
            EXPECT_TRUE(log_.lines().empty());
        }
        EXPECT_EQ(0u, bench().pendingScripts());
    }
}

TEST_F(RunControlTest, HaltAgainstTheModel) {
    DbgDev& dev = Connect();
    // Fresh from power-up the first reading still carries the sticky reset status.
    EXPECT_EQ(0, dev.ForceDebug(0, 0));
    EXPECT_EQ(3u, bench().sends().size());
    EXPECT_EQ(sim::RunState::Halted, Target().runState());
    bench().clearLog();
    EXPECT_EQ(0, dev.ForceDebug(1, 0));
    EXPECT_TRUE(SentExactly({DebugWrite(kDhcsr, kHalt), DebugRead(kDhcsr)}));
}

TEST_F(RunControlTest, HaltKeepsTryingUntilTheCoreHalts) {
    DbgDev& dev = Connect();
    ReadStickyBitsAway();
    ScriptDhcsr({kRunning, kRunning, kRunning});
    EXPECT_EQ(0, dev.ForceDebug(1, 0));
    EXPECT_EQ(8u, bench().sends().size());  // four halt writes, each followed by a read
    bench().clearLog();
    bench().script(ScriptedAnswer::Status(0x0011).When({0xF2, 0x35}));
    EXPECT_EQ(DBGDEV_AP_FAULT, dev.ForceDebug(1, 0));
    EXPECT_TRUE(SentExactly({DebugWrite(kDhcsr, kHalt)}));
}

// ---- WaitForTargetReset

TEST_F(RunControlTest, ResetWaitOfZeroSecondsTakesOneSample) {
    DbgDev& dev = Connect();
    EXPECT_EQ(0, dev.WaitForTargetReset(0, 0));  // the sticky reset status of power-up
    EXPECT_EQ(DBGDEV_RESET_NOT_SEEN, dev.WaitForTargetReset(0, 0));
    EXPECT_EQ("System reset has not raised up after 0 seconds", log_.last());
    EXPECT_TRUE(SentExactly({DebugRead(kDhcsr), DebugRead(kDhcsr)}));
    bench().script(ScriptedAnswer::Status(0x0081).When({0xF2, 0x36}));
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.WaitForTargetReset(0.5, 0));
    EXPECT_EQ(3u, bench().sends().size());
}

// ---- Reset

struct ResetSequence {
    const char* name;
    uint8_t generation;
    int systemReset;
    uint32_t aircr;
    sim::ResetKind kind;
};

TEST_F(RunControlTest, ResetRequestsThroughAircrAndHaltsOnTheResetVector) {
    const ResetSequence cases[] = {
        {"system reset", 3, 1, kSysResetReq, sim::ResetKind::SystemReset},
        {"core reset", 3, 0, kVectReset, sim::ResetKind::VectorReset},
        {"core reset, any other value", 3, 2, kVectReset, sim::ResetKind::VectorReset},
        {"first generation reads AIRCR back", 1, 1, kSysResetReq, sim::ResetKind::SystemReset},
    };
    for (const ResetSequence& c : cases) {
        SCOPED_TRACE(c.name);
        DbgDev& dev = Connect(DebugProbe(c.generation, c.generation == 1 ? 12 : 7));
        HaltSettled();
        ASSERT_EQ(0, dev.WriteRegister(16, 0x61000003, 0));
        bench().clearLog();

        EXPECT_EQ(0, dev.Reset(0, 0, c.systemReset));

        std::vector<ExpectedCommand> expected{DebugWrite(kDemcr, 1), DebugWrite(kAircr, c.aircr)};
        if (c.generation == 1) {
            expected.push_back(DebugRead(kAircr));
        }
        expected.push_back(DebugRead(kDhcsr));  // reset seen (sticky)
        expected.push_back(DebugRead(kDhcsr));  // halted
        expected.push_back(kXpsrWrite);
        expected.push_back(DebugWrite(kDemcr, 0));
        EXPECT_TRUE(SentExactly(expected));
        EXPECT_EQ(c.kind, Target().lastResetKind());
        EXPECT_EQ(sim::RunState::Halted, Target().runState());
        EXPECT_EQ(0x01000000u, Xpsr());
        EXPECT_EQ(0u, Target().demcr());
    }
}

TEST_F(RunControlTest, TargetHeldInResetIsReleasedWithoutAnAircrWrite) {
    DbgDev& dev = Connect();
    HaltSettled();
    ASSERT_EQ(0, dev.TargetHardReset(0));
    ASSERT_TRUE(Target().resetLineAsserted());
    bench().clearLog();

    EXPECT_EQ(0, dev.Reset(1, 0, 1));
    EXPECT_TRUE(SentExactly({
        DebugWrite(kDemcr, 1),
        DebugRead(kDhcsr),
        DebugRead(kDhcsr),
        In({0xF2, 0x3C, 0x01}, 2),
        DebugRead(kDhcsr),  // the sticky reset status
        DebugRead(kDhcsr),
        kXpsrWrite,
        DebugWrite(kDemcr, 0),
    }));
    EXPECT_FALSE(Target().resetLineAsserted());
    EXPECT_EQ(sim::ResetKind::ResetLine, Target().lastResetKind());
    EXPECT_EQ(sim::RunState::Halted, Target().runState());
    EXPECT_EQ(0u, Target().demcr());
}

TEST_F(RunControlTest, HardwareResetTestOnATargetNotInReset) {
    DbgDev& dev = Connect();
    HaltSettled();
    EXPECT_EQ(0, dev.Reset(1, 0, 1));
    EXPECT_TRUE(log_.contains("System reset has not raised up after 0 seconds"));
    EXPECT_TRUE(SentExactly({
        DebugWrite(kDemcr, 1),
        DebugRead(kDhcsr),
        DebugWrite(kAircr, kSysResetReq),
        DebugRead(kDhcsr),
        In({0xF2, 0x3C, 0x01}, 2),
        DebugRead(kDhcsr),
        kXpsrWrite,
        DebugWrite(kDemcr, 0),
    }));
}

// The bench clock moves 1 ms per exchange, so a 20 ms reset ends after about 20 samples.
TEST_F(RunControlTest, ResetWaitFollowsTheResetDuration) {
    sim::ProbeConfig config = DebugProbe();
    config.target.resetDurationUs = 20000;
    DbgDev& dev = Connect(config);
    HaltSettled();
    bench().clock.setExchangeLatencyUs(1000);
    EXPECT_EQ(0, dev.Reset(0, 0, 1));
    EXPECT_GE(bench().sends().size(), 20u);
    EXPECT_EQ(sim::RunState::Halted, Target().runState());
    EXPECT_EQ(0x01000000u, Xpsr());
}

TEST_F(RunControlTest, LockUpAfterResetGetsOneMoreHalt) {
    const struct {
        sim::LockupAfterReset lockup;
        int result;
        const char* message;
    } cases[] = {
        {sim::LockupAfterReset::HaltRecovers, 0, "Workaround OK: device is now Halted"},
        {sim::LockupAfterReset::Persistent, 18, "Workaround KO: device still not Halted"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        sim::ProbeConfig config = DebugProbe();
        config.target.scenario.lockupAfterReset = c.lockup;
        DbgDev& dev = Connect(config);  // locked up from power-up on
        EXPECT_EQ(c.result, dev.Reset(0, 0, 1));
        std::vector<ExpectedCommand> expected{
            DebugWrite(kDemcr, 1), DebugWrite(kAircr, kSysResetReq), DebugRead(kDhcsr),
            DebugRead(kDhcsr),     DebugWrite(kDhcsr, kHalt),        DebugRead(kDhcsr)};
        if (c.result == 0) {
            expected.push_back(kXpsrWrite);
            expected.push_back(DebugWrite(kDemcr, 0));
        }
        EXPECT_TRUE(SentExactly(expected));
        EXPECT_TRUE(log_.contains("Device is lockup; workaround: set Halt bit again"));
        EXPECT_EQ(c.message, log_.last());
        // A failed sequence leaves the vector catch on.
        EXPECT_EQ(c.result == 0 ? 0u : 1u, Target().demcr());
    }
}

TEST_F(RunControlTest, CoreRunningOrSleepingAfterResetIsNotHalted) {
    for (const bool sleeps : {false, true}) {
        sim::ProbeConfig config = DebugProbe();
        config.target.scenario.sleepsOnVectorCatch = sleeps;
        DbgDev& dev = Connect(config);
        if (sleeps) {
            HaltSettled();
        }  // else debug is off: the vector catch does not halt the core
        EXPECT_EQ(DBGDEV_NOT_HALTED, dev.Reset(0, 0, 1));
        EXPECT_EQ("Target was reset but core is not halted", log_.last());
        EXPECT_EQ(1u, Target().demcr());
        EXPECT_EQ(0x36, bench().sends().back().cdb[1]) << "ends with the status read";
    }
}

// A vector catch that could not be set ends the reset with its code. No reset was requested, so
// none is waited for: a reset status still standing from an earlier reset would pass for one, and
// on a target not in reset the fault would turn into a 2 s wait and a 16. xPSR is left alone.
TEST_F(RunControlTest, FailedVectorCatchWriteEndsTheResetWithItsCode) {
    for (const bool resetStatusStanding : {true, false}) {
        SCOPED_TRACE(resetStatusStanding);
        DbgDev& dev = Connect();
        HaltSettled();
        if (resetStatusStanding) {  // a reset made behind the host's back, its status unread
            ASSERT_EQ(sim::BusStatus::Ok, Target().write(kDemcr, sim::AccessSize::Word, 1, Now()));
            ASSERT_EQ(sim::BusStatus::Ok,
                      Target().write(kAircr, sim::AccessSize::Word, kSysResetReq, Now()));
        }
        ASSERT_EQ(sim::RegisterAccess::Ok,
                  Target().writeCoreRegister(armv7m::regsel::kXpsr, 0x61000003, Now()));
        bench().script(ScriptedAnswer::Status(0x0011).When(Cdb({{0xF2, 0x35}, Le32(kDemcr)})));
        EXPECT_EQ(DBGDEV_AP_FAULT, dev.Reset(0, 0, 1));
        EXPECT_TRUE(SentExactly({DebugWrite(kDemcr, 1)}));
        EXPECT_EQ(0x61000003u, Xpsr());
    }
}

// ---- RunCore and StepCore

TEST_F(RunControlTest, RunLeavesTheCoreRunningWithDebugEnabled) {
    for (const int mask : {0, 1, 2}) {
        DbgDev& dev = Connect();
        HaltSettled();
        EXPECT_EQ(0, dev.RunCore(mask, 0));
        EXPECT_TRUE(SentExactly({DebugWrite(kDhcsr, mask == 1 ? 0xA05F0009 : 0xA05F0001)}));
        EXPECT_EQ(sim::RunState::Running, Target().runState());
        EXPECT_NE(0u, Target().peekDhcsr() & armv7m::dhcsr::kCDebugen);
    }
}

TEST_F(RunControlTest, StepAdvancesThePcByOneInstruction) {
    for (const int mask : {0, 1}) {
        SCOPED_TRACE(mask);
        DbgDev& dev = Connect();
        HaltSettled();
        uint32_t pcBefore = 0;
        ASSERT_EQ(sim::RegisterAccess::Ok, Target().readCoreRegister(15, pcBefore, Now()));

        EXPECT_EQ(0, dev.StepCore(mask, 0));

        uint32_t pcAfter = 0;
        ASSERT_EQ(sim::RegisterAccess::Ok, Target().readCoreRegister(15, pcAfter, Now()));
        EXPECT_EQ(pcBefore + 2, pcAfter);
        EXPECT_EQ(sim::RunState::Halted, Target().runState());
        EXPECT_EQ(0u, Target().peekDhcsr() & (armv7m::dhcsr::kCStep | armv7m::dhcsr::kCMaskints));
        EXPECT_TRUE(SentExactly({
            DebugRead(kDhcsr),
            DebugWrite(kDhcsr, 0xA05F000B),
            DebugWrite(kDhcsr, mask == 1 ? 0xA05F000D : 0xA05F0005),
            DebugRead(kDhcsr),  // S_RETIRE_ST set
            DebugRead(kDhcsr),  // cleared by the read before
            DebugRead(kDhcsr),
            DebugWrite(kDhcsr, 0xA05F0003),
        }));
    }
}

// The control bits come from the values read; bits 31:16 are the key, whatever status bits the
// reads had there.
TEST_F(RunControlTest, StepWritesAreFormedFromTheValuesRead) {
    DbgDev& dev = Connect();
    ScriptDhcsr({0x01030003, 0x01030001, 0x00030001, 0x0203000D});
    EXPECT_EQ(0, dev.StepCore(0, 0));
    EXPECT_TRUE(SentExactly({
        DebugRead(kDhcsr), DebugWrite(kDhcsr, 0xA05F000B),  // control bits read plus C_MASKINTS
        DebugWrite(kDhcsr, 0xA05F0005), DebugRead(kDhcsr), DebugRead(kDhcsr), DebugRead(kDhcsr),
        DebugWrite(kDhcsr, 0xA05F0001),  // C_STEP and C_MASKINTS off
    }));
}

// The model ignores a DHCSR write whose key is not exact, as a core does. The halt that stopped
// the running core leaves S_RETIRE_ST (and the power-up S_RESET_ST) for the step's first read: the
// masked step must still run masked. A reset status in the last read must not keep C_STEP and
// C_MASKINTS set.
TEST_F(RunControlTest, StepWritesReachTheModelWhateverStatusBitsAreRead) {
    constexpr uint32_t kStepAndMask = armv7m::dhcsr::kCStep | armv7m::dhcsr::kCMaskints;
    DbgDev& dev = Connect();
    HaltTarget();
    ASSERT_NE(0u, Target().peekDhcsr() & armv7m::dhcsr::kSRetireSt);
    EXPECT_EQ(0, dev.StepCore(1, 0));
    EXPECT_TRUE(Target().lastStepMasked());
    EXPECT_EQ(0u, Target().peekDhcsr() & kStepAndMask);
    EXPECT_TRUE(SentExactly({
        DebugRead(kDhcsr),
        DebugWrite(kDhcsr, 0xA05F000B),
        DebugWrite(kDhcsr, 0xA05F000D),
        DebugRead(kDhcsr),
        DebugRead(kDhcsr),
        DebugRead(kDhcsr),
        DebugWrite(kDhcsr, 0xA05F0003),
    }));

    // The reads scripted, the writes to the model.
    bench().clearLog();
    ScriptDhcsr({kHalted, 0x01030003, kHalted, 0x0203000F});
    EXPECT_EQ(0, dev.StepCore(1, 0));
    EXPECT_EQ(0u, Target().peekDhcsr() & kStepAndMask);
    EXPECT_EQ(sim::RunState::Halted, Target().runState());
}

TEST_F(RunControlTest, StepNotConfirmedOrNotSettled) {
    DbgDev& dev = Connect();
    ScriptDhcsr({kHalted, 0x00000000});
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.StepCore(0, 0));
    EXPECT_EQ(4u, bench().sends().size());

    // S_RETIRE_ST that never clears: 100 re-reads, then the step gives up.
    bench().clearLog();
    ScriptDhcsr({kHalted});
    for (int i = 0; i < 101; ++i) {
        ScriptDhcsr({0x01000000});
    }
    EXPECT_EQ(DBGDEV_STEP_NOT_SETTLED, dev.StepCore(0, 0));
    EXPECT_EQ(104u, bench().sends().size());
    EXPECT_STREQ("single step not settled: the core kept executing",
                 DbgDev::ResultText(DBGDEV_STEP_NOT_SETTLED));
}

// ---- Probe reset commands

TEST_F(RunControlTest, HardResetGateComesBeforeTheParameter) {
    DbgDev& old = Connect(DebugProbe(2, 12));
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, old.TargetHardReset(3));
    EXPECT_TRUE(bench().log().empty());
    EXPECT_TRUE(log_.lines().empty());

    DbgDev& dev = Connect(DebugProbe(2, 13));
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.TargetHardReset(3));
    EXPECT_EQ("Unexpected parameter (3) in TargetHardReset", log_.last());
    // Only in idle or debug mode, as last queried.
    DbgDevTestPeer::probeMode(dev) = 3;
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.TargetHardReset(0));
    EXPECT_TRUE(bench().log().empty());
    DbgDevTestPeer::probeMode(dev) = 1;
    EXPECT_EQ(0, dev.TargetHardReset(0));
}

TEST_F(RunControlTest, HardResetDrivesTheResetLine) {
    DbgDev& dev = Connect();
    EXPECT_EQ(0, dev.TargetHardReset(0));
    EXPECT_TRUE(Target().resetLineAsserted());
    EXPECT_EQ(sim::RunState::InReset, Target().runState());
    EXPECT_EQ(0, dev.TargetHardReset(1));
    EXPECT_FALSE(Target().resetLineAsserted());
    const unsigned resets = Target().resetCount();
    EXPECT_EQ(0, dev.TargetHardReset(2));
    EXPECT_EQ(resets + 1, Target().resetCount());
    EXPECT_FALSE(Target().resetLineAsserted());
    EXPECT_TRUE(SentExactly(
        {In({0xF2, 0x3C, 0x00}, 2), In({0xF2, 0x3C, 0x01}, 2), In({0xF2, 0x3C, 0x02}, 2)}));
}

TEST_F(RunControlTest, SystemResetCommand) {
    DbgDev& dev = Connect();
    const unsigned resets = Target().resetCount();
    EXPECT_EQ(0, dev.ResetSystem());
    EXPECT_TRUE(SentExactly({In({0xF2, 0x32}, 2)}));
    EXPECT_EQ(resets + 1, Target().resetCount());
    EXPECT_EQ(sim::ResetKind::SystemReset, Target().lastResetKind());
}

// ---- The 2 s bounds (each of these takes one to two seconds)

class RunControlTimeoutTest : public RunControlTest {
  protected:
    // The host polls without pause until its wall-clock bound; a real bench clock with some
    // latency per exchange keeps the wire log of those polls small.
    void PollSlowly() {
        bench().clock.setManual(false);
        bench().clock.setExchangeLatencyUs(500);
    }
};

// The reset outlasts the host's wait.
TEST_F(RunControlTimeoutTest, ResetStillActiveGives17WithXpsrWrittenAndDemcrCleared) {
    sim::ProbeConfig config = DebugProbe();
    config.target.resetDurationUs = 10'000'000;
    DbgDev& dev = Connect(config);
    HaltSettled();
    PollSlowly();
    EXPECT_EQ(DBGDEV_HELD_IN_RESET, dev.Reset(0, 0, 1));
    EXPECT_TRUE(log_.contains("Target reset still active after 2 seconds"));
    // The core in reset cannot take the xPSR write; its error does not replace the 17.
    EXPECT_EQ("Error (0x81) after target cmd F2 34 10 00 00 00 01 00 00 00", log_.last());
    const std::vector<sim::WireEntry> sends = bench().sends();
    ASSERT_GE(sends.size(), 5u);
    EXPECT_TRUE(SendsAre({sends.end()[-2], sends.end()[-1]}, {kXpsrWrite, DebugWrite(kDemcr, 0)}));
    EXPECT_EQ(0u, Target().demcr());
    EXPECT_EQ(sim::RunState::InReset, Target().runState());
}

TEST_F(RunControlTimeoutTest, ResetNotSeenGives16AndKeepsTheVectorCatch) {
    DbgDev& dev = Connect();
    HaltSettled();
    // The probe acknowledges the AIRCR write but the request never reaches the core.
    bench().script(ScriptedAnswer::Status(0x0080).When(Cdb({{0xF2, 0x35}, Le32(kAircr)})));
    PollSlowly();
    EXPECT_EQ(DBGDEV_RESET_NOT_SEEN, dev.Reset(0, 0, 1));
    EXPECT_EQ("System reset has not raised up after 2 seconds", log_.last());
    EXPECT_EQ(1u, Target().demcr());
    EXPECT_EQ(0u, Target().resetCount());
}

TEST_F(RunControlTimeoutTest, CoreThatNeverHaltsGives18) {
    sim::ProbeConfig config = DebugProbe();
    config.target.scenario.neverHalts = true;
    DbgDev& dev = Connect(config);
    PollSlowly();
    EXPECT_EQ(DBGDEV_NOT_HALTED, dev.ForceDebug(1, 0));
    EXPECT_EQ("Target is neither HALTED nor under RESET after init sequence (status=0)",
              log_.last());
    EXPECT_GT(bench().sends().size(), 4u);
}

}  // namespace
}  // namespace dravik::test
