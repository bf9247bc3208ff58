// Target connection: the connection sequence in every probe mode, over SWD and JTAG, under reset
// and hot plugged, on each firmware family; closing the connection, the one-call open and close,
// the destructor and the FPB identification. The test that waits for a 2 s bound is in
// ConnectionTimeoutTest.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TargetFixture.h"

namespace dravik::test {
namespace {

using sim::ScriptedAnswer;
using Commands = std::vector<ExpectedCommand>;
using Lines = std::vector<std::string>;

constexpr uint32_t kDhcsr = armv7m::kDhcsr;
constexpr uint32_t kDemcr = armv7m::kDemcr;
constexpr uint32_t kAircr = armv7m::kAircr;
constexpr uint32_t kFpCtrl = 0xE0002000;

constexpr uint32_t kHalt = 0xA05F0003;
constexpr uint32_t kRun = 0xA05F0001;
constexpr uint32_t kDebugOff = 0xA05F0000;
constexpr uint32_t kSysResetReq = 0x05FA0004;
constexpr uint32_t kVectReset = 0x05FA0001;

const ExpectedCommand kModeQuery = In({0xF5}, 2);
const ExpectedCommand kVoltage = In({0xF7}, 8);
const ExpectedCommand kEnterSwd = In({0xF2, 0x30, 0xA3}, 2);
const ExpectedCommand kEnterJtag = In({0xF2, 0x30, 0xA4}, 2);
const ExpectedCommand kLeaveDebug = In({0xF2, 0x21}, 0);
const ExpectedCommand kOpenAp0 = In({0xF2, 0x4B, 0x00, 0x01}, 2, 0);
const ExpectedCommand kCloseAp0 = In({0xF2, 0x4C, 0x00}, 2, 0);
const ExpectedCommand kAssertReset = In({0xF2, 0x3C, 0x00}, 2);
const ExpectedCommand kReleaseReset = In({0xF2, 0x3C, 0x01}, 2);
const ExpectedCommand kXpsrWrite = In({0xF2, 0x34, 0x10, 0x00, 0x00, 0x00, 0x01, 0x00}, 2);
const ExpectedCommand kHaltWrite = DebugWrite(kDhcsr, kHalt);
const ExpectedCommand kStatusRead = DebugRead(kDhcsr);

// The third generation's frequency request: F2 61 com 00 kHz.
ExpectedCommand FreqRequest(uint8_t com, uint32_t kHz) {
    ExpectedCommand e;
    e.cdb = Cdb({{0xF2, 0x61, com, 0x00}, Le32(kHz)});
    e.length = 8;
    return e;
}

Commands Join(std::initializer_list<Commands> parts) {
    Commands all;
    for (const Commands& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// Mode query, clock (with its own mode query on the third generation), voltage: the common start.
Commands ThirdGenStart(uint8_t com, uint32_t kHz) {
    return {kModeQuery, kModeQuery, FreqRequest(com, kHz), kVoltage};
}

// The halt of a target fresh from power-up, keeping on trying: the first reading still carries
// the sticky reset status, the second shows the core halted.
const Commands kHaltUntilHalted = {kHaltWrite, kStatusRead, kHaltWrite, kStatusRead};

// Reset(1, 0, systemReset) of a target not held in reset: the held-in-reset test sees it running,
// the AIRCR request resets it, the probe releases its reset line, the vector catch halts it.
Commands ResetNotHeld(uint32_t aircr, bool releaseLine = true) {
    Commands c{DebugWrite(kDemcr, 1), kStatusRead, DebugWrite(kAircr, aircr), kStatusRead};
    if (releaseLine) {
        c.push_back(kReleaseReset);
    }
    c.insert(c.end(), {kStatusRead, kXpsrWrite, DebugWrite(kDemcr, 0)});
    return c;
}

// Reset(1, 0, 1) of a target the probe holds in reset: two samples in reset, no AIRCR request, the
// line released; the first reading afterwards still carries the sticky reset status.
const Commands kResetHeld = {
    DebugWrite(kDemcr, 1), kStatusRead, kStatusRead, kReleaseReset,
    kStatusRead,           kStatusRead, kXpsrWrite,  DebugWrite(kDemcr, 0)};

const char kNotRaised[] = "System reset has not raised up after 0 seconds";
const char kVoltageText[] = "Target voltage detected: 1.200000";

// A probe of generation `v` with debug firmware `j` in `mode`; its target reads 1.2 V and the
// third generation offers the default clocks exactly.
sim::ProbeConfig Probe(uint8_t v = 3, uint8_t j = 7, uint8_t mode = sim::kModeIdle) {
    sim::ProbeConfig config = TestProbe(v, j).mode(mode);
    config.voltageReference = 4096;
    config.voltageTarget = 2048;
    config.swdFrequenciesKHz = {4000, 1800, 950};
    config.jtagFrequenciesKHz = {9000, 1125};
    return config;
}

class ConnectionTest : public TargetTest {
  protected:
    DbgDev& Open(const sim::ProbeConfig& config = Probe()) {
        UseProbe(config);
        return OpenDevice();
    }
    // Opened and connected with OpenTarget(1, 0, 0, 0, 1); the logs start empty.
    DbgDev& Connected(const sim::ProbeConfig& config = Probe()) {
        DbgDev& dev = Open(config);
        EXPECT_EQ(0, dev.OpenTarget(1, 0, 0, 0, 1));
        bench().clearLog();
        log_.clear();
        return dev;
    }
    sim::ProbeState& ProbeState() { return bench().probe(0).state; }
    static bool& TargetOpen(DbgDev& dev) { return DbgDevTestPeer::targetOpen(dev); }
};

// ---- OpenTarget: the sequences

struct SequenceCase {
    const char* name;
    int protocol, connectUnderReset, hotPlug, systemReset;
    Commands commands;
    Lines log;
    sim::RunState state;
};

TEST_F(ConnectionTest, ThirdGenerationSequences) {
    const SequenceCase cases[] = {
        {"SWD, halt and system reset",
         1,
         0,
         0,
         1,
         Join({ThirdGenStart(0, 1800),
               {kEnterSwd, kOpenAp0},
               kHaltUntilHalted,
               ResetNotHeld(kSysResetReq)}),
         {kVoltageText, kNotRaised},
         sim::RunState::Halted},
        {"JTAG, halt and core reset",
         0,
         0,
         0,
         0,
         Join({ThirdGenStart(1, 1125),
               {kEnterJtag, kOpenAp0},
               kHaltUntilHalted,
               ResetNotHeld(kVectReset)}),
         {kVoltageText, kNotRaised},
         sim::RunState::Halted},
        {"SWD under reset: one halt attempt sees the reset held, Reset still runs",
         1,
         1,
         0,
         1,
         Join({ThirdGenStart(0, 1800),
               {kAssertReset, kEnterSwd, kOpenAp0},
               {kHaltWrite, kStatusRead, kStatusRead},
               kResetHeld}),
         {kVoltageText, "Target is held under reset"},
         sim::RunState::Halted},
        {"JTAG under reset",
         0,
         1,
         0,
         1,
         Join({ThirdGenStart(1, 1125),
               {kAssertReset, kEnterJtag, kOpenAp0},
               {kHaltWrite, kStatusRead, kStatusRead},
               kResetHeld}),
         {kVoltageText, "Target is held under reset"},
         sim::RunState::Halted},
        {"hot plug: the core keeps running",
         1,
         0,
         1,
         1,
         Join({ThirdGenStart(0, 1800), {kEnterSwd, kOpenAp0, DebugWrite(kDhcsr, kRun)}}),
         {kVoltageText},
         sim::RunState::Running},
        {"hot plug asks for no hardware reset",
         1,
         1,
         1,
         1,
         Join({ThirdGenStart(0, 1800), {kEnterSwd, kOpenAp0, DebugWrite(kDhcsr, kRun)}}),
         {kVoltageText},
         sim::RunState::Running},
        {"other hot plug values halt without any reset",
         1,
         0,
         2,
         1,
         Join({ThirdGenStart(0, 1800), {kEnterSwd, kOpenAp0}, kHaltUntilHalted}),
         {kVoltageText},
         sim::RunState::Halted},
        {"other hot plug values under reset: one halt attempt, no reset line",
         1,
         1,
         2,
         1,
         Join({ThirdGenStart(0, 1800),
               {kEnterSwd, kOpenAp0},
               {kHaltWrite, kStatusRead, kStatusRead}}),
         {kVoltageText},
         sim::RunState::Halted},
    };
    for (const SequenceCase& c : cases) {
        SCOPED_TRACE(c.name);
        DbgDev& dev = Open();
        const unsigned resets = Target().resetCount();
        EXPECT_EQ(0, dev.OpenTarget(c.protocol, c.connectUnderReset, c.hotPlug, 0, c.systemReset));
        EXPECT_TRUE(SentExactly(c.commands));
        EXPECT_TRUE(RecordsWellFormed(bench().log()));
        EXPECT_EQ(c.log, log_.lines());
        EXPECT_TRUE(TargetOpen(dev));
        EXPECT_EQ(sim::kModeDebug, ProbeState().mode);
        EXPECT_EQ(c.protocol == 1 ? 0xA3 : 0xA4, ProbeState().debugProtocol);
        EXPECT_EQ(1u, ProbeState().openAccessPorts);
        EXPECT_EQ(c.state, Target().runState());
        EXPECT_FALSE(Target().resetLineAsserted());
        if (c.hotPlug == 0) {
            EXPECT_EQ(resets + 1, Target().resetCount());
            EXPECT_EQ(c.connectUnderReset == 1 ? sim::ResetKind::ResetLine
                      : c.systemReset == 1     ? sim::ResetKind::SystemReset
                                               : sim::ResetKind::VectorReset,
                      Target().lastResetKind());
            EXPECT_EQ(0u, Target().demcr());
        } else {
            EXPECT_EQ(resets, Target().resetCount());
        }
    }
}

TEST_F(ConnectionTest, EachProbeModeIsLeftFirst) {
    const Commands rest = Join({{kModeQuery, FreqRequest(0, 1800), kVoltage, kEnterSwd, kOpenAp0},
                                kHaltUntilHalted,
                                ResetNotHeld(kSysResetReq)});
    const struct {
        const char* name;
        uint8_t mode;
        Commands leave;
    } cases[] = {
        {"idle", sim::kModeIdle, {}},
        {"debug", sim::kModeDebug, {}},
        {"Monowire", sim::kModeMonowire, {In({0xF4, 0x01}, 0)}},
        {"DFU", sim::kModeDfu, {In({0xF3, 0x07}, 0)}},
        {"any other mode is taken for DFU", 7, {In({0xF3, 0x07}, 0)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::ProbeConfig config = Probe(3, 7, c.mode);
        config.initialSubMode = 1;
        DbgDev& dev = Open(config);
        EXPECT_EQ(0, dev.OpenTarget(1, 0, 0, 0, 1));
        EXPECT_TRUE(SentExactly(Join({{kModeQuery}, c.leave, rest})));
        EXPECT_TRUE(TargetOpen(dev));
        EXPECT_EQ(sim::RunState::Halted, Target().runState());
    }
}

// Only the debug mode keeps m_targetOpen; a failed entry shows what leaving the mode did to it.
TEST_F(ConnectionTest, LeavingTheModeClearsTargetOpenOutsideDebugMode) {
    const struct {
        uint8_t mode;
        bool targetOpen;
    } cases[] = {{sim::kModeIdle, false},
                 {sim::kModeDebug, true},
                 {sim::kModeMonowire, false},
                 {sim::kModeDfu, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        DbgDev& dev = Open(Probe(3, 7, c.mode));
        TargetOpen(dev) = true;
        bench().script(ScriptedAnswer::Status(0x0081).When({0xF2, 0x30}));
        EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.OpenTarget(1, 0, 0, 0, 1));
        EXPECT_EQ(c.targetOpen, TargetOpen(dev));
        EXPECT_EQ("Error (19) while initializing Dravik in SWD mode", log_.last());
        EXPECT_EQ(0xA3, bench().sends().back().cdb[2]) << "ends with the entry";
    }
}

TEST_F(ConnectionTest, DfuExitRefusedOrFailingEndsTheSequence) {
    sim::ProbeConfig config = Probe(3, 7, sim::kModeDfu);
    config.initialSubMode = 2;
    DbgDev& dev = Open(config);
    TargetOpen(dev) = true;
    EXPECT_EQ(DBGDEV_DFU_EXIT_REFUSED, dev.OpenTarget(1, 0, 0, 0, 1));
    EXPECT_TRUE(SentExactly({kModeQuery}));
    EXPECT_FALSE(TargetOpen(dev));
    EXPECT_EQ(sim::kModeDfu, ProbeState().mode);

    DbgDev& failing = Open(Probe(3, 7, sim::kModeMonowire));
    bench().script(ScriptedAnswer::Transport(sim::drv::kFailure).When({0xF4, 0x01}));
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, failing.OpenTarget(1, 0, 0, 0, 1));
    EXPECT_TRUE(SentExactly({kModeQuery, In({0xF4, 0x01}, 0)}));
    EXPECT_EQ(3, DbgDevTestPeer::probeMode(failing)) << "no exit, no change";
}

// Halt with a single attempt under reset, no reset line below the second generation, a fixed
// 1000 kHz clock, no voltage and no access port command; AIRCR is read back after the request.
TEST_F(ConnectionTest, FirstGenerationUnderResetHaltsOnceWithoutTheResetLine) {
    sim::ProbeConfig config = Probe(1, 12);
    DbgDev& dev = Open(config);
    EXPECT_EQ(0, dev.OpenTarget(1, 1, 0, 0, 1));
    EXPECT_TRUE(SentExactly({
        kModeQuery,
        kEnterSwd,
        kHaltWrite,
        kStatusRead,  // the sticky reset status of power-up
        kStatusRead,  // halted
        DebugWrite(kDemcr, 1),
        kStatusRead,
        DebugWrite(kAircr, kSysResetReq),
        DebugRead(kAircr),
        kStatusRead,
        kStatusRead,
        kXpsrWrite,
        DebugWrite(kDemcr, 0),
    }));
    EXPECT_EQ(
        (Lines{" For Target communication 0 (0:SWD/1:JTAG) real freq applied is 1000 KHz, "
               "requested freq was 1800 KHz.",
               "Requested SWD frequency (1000 KHz) has been modified",
               "The detected Orvane firmware version (V1.J12) does not support the target voltage "
               "reading.",
               kNotRaised}),
        log_.lines());
    EXPECT_EQ(1000u, DbgDevTestPeer::swdFreqKHz(dev));
    EXPECT_TRUE(TargetOpen(dev));
    EXPECT_EQ(sim::ResetKind::SystemReset, Target().lastResetKind());
}

// JTAG on firmware without the FPU/board-type commands: the core is halted right after the entry;
// the fixed clock and no access port command on V2.J14.
TEST_F(ConnectionTest, JtagOnOlderFirmwareHaltsRightAfterTheEntry) {
    DbgDev& dev = Open(Probe(2, 14));
    EXPECT_EQ(0, dev.OpenTarget(0, 0, 0, 0, 1));
    EXPECT_TRUE(SentExactly(Join({
        {kModeQuery, kVoltage, kEnterJtag, kHaltWrite},
        kHaltUntilHalted,
        ResetNotHeld(kSysResetReq),
    })));
    EXPECT_EQ(1000u, DbgDevTestPeer::jtagFreqKHz(dev));
    EXPECT_TRUE(log_.contains("Requested JTAG frequency (1000 KHz) has been modified"));

    // SWD gets no such write, nor does JTAG on firmware that has the commands (V2.J15).
    for (const auto& [j, protocol] : {std::pair<uint8_t, int>{14, 1}, {15, 0}}) {
        SCOPED_TRACE(j);
        DbgDev& other = Open(Probe(2, j));
        EXPECT_EQ(0, other.OpenTarget(protocol, 0, 0, 0, 1));
        const std::vector<sim::WireEntry> sends = bench().sends();
        ASSERT_GE(sends.size(), 4u);
        EXPECT_TRUE(
            SendsAre({sends[2], sends[3]}, {protocol == 1 ? kEnterSwd : kEnterJtag, kHaltWrite}));
        EXPECT_EQ(0x36, sends[4].cdb[1]) << "one halt write, then the status read";
    }
}

// Only protocol 0 gets the halt write after the entry: any other value enters JTAG without it.
TEST_F(ConnectionTest, HaltWriteAfterTheEntryIsForProtocolZeroOnly) {
    DbgDev& dev = Open(Probe(2, 14));
    EXPECT_EQ(0, dev.OpenTarget(5, 0, 0, 0, 1));
    EXPECT_TRUE(SentExactly(Join({
        {kModeQuery, kVoltage, kEnterJtag},
        kHaltUntilHalted,
        ResetNotHeld(kSysResetReq),
    })));
}

// A failed halt write after the entry is the result: no access port is opened (firmware V0 has
// the commands), no halt or reset follows.
TEST_F(ConnectionTest, FailedHaltWriteAfterTheEntryEndsTheSequence) {
    DbgDev& dev = Open(Probe(0, 7));
    bench().script(ScriptedAnswer::Status(0x0011).When(Cdb({{0xF2, 0x35}, Le32(kDhcsr)})));
    EXPECT_EQ(DBGDEV_AP_FAULT, dev.OpenTarget(0, 0, 0, 0, 1));
    const std::vector<sim::WireEntry> sends = bench().sends();
    ASSERT_GE(sends.size(), 2u);
    EXPECT_TRUE(SendsAre({sends.end()[-2], sends.end()[-1]}, {kEnterJtag, kHaltWrite}));
    EXPECT_TRUE(TargetOpen(dev));
}

// ---- OpenTarget: the clock step

// Second generation: 3000 kHz asks for setting 1 (1800 kHz); the 36 is taken as success.
TEST_F(ConnectionTest, ModifiedClockIsReportedAndTheConnectionGoesOn) {
    DbgDev& dev = Open(Probe(2, 30));
    DbgDevTestPeer::swdFreqKHz(dev) = 3000;
    EXPECT_EQ(0, dev.OpenTarget(1, 0, 0, 0, 1));
    const std::vector<sim::WireEntry> sends = bench().sends();
    ASSERT_GE(sends.size(), 6u);
    EXPECT_TRUE(SendsAre(
        {sends.begin(), sends.begin() + 6},
        {kModeQuery, kModeQuery, In({0xF2, 0x43, 0x01, 0x00}, 2), kVoltage, kEnterSwd, kOpenAp0}));
    EXPECT_EQ(1800u, DbgDevTestPeer::swdFreqKHz(dev));
    EXPECT_EQ(1, ProbeState().swdDivider);
    EXPECT_EQ((Lines{" For Target communication 0 (0:SWD/1:JTAG) real freq applied is 1800 KHz, "
                     "requested freq was 3000 KHz.",
                     "Requested SWD frequency (1800 KHz) has been modified", kVoltageText}),
              Lines(log_.lines().begin(), log_.lines().begin() + 3));
    EXPECT_TRUE(TargetOpen(dev));

    // Third generation: the probe applies the nearest frequency it offers.
    DbgDev& third = Open(Probe());
    DbgDevTestPeer::jtagFreqKHz(third) = 2000;
    EXPECT_EQ(0, third.OpenTarget(0, 0, 0, 0, 1));
    EXPECT_EQ(1125u, DbgDevTestPeer::jtagFreqKHz(third));
    EXPECT_TRUE(log_.contains("Requested JTAG frequency (1125 KHz) has been modified"));
}

// A failed clock or voltage step only skips the hardware reset: the entry's result replaces it.
TEST_F(ConnectionTest, FailedClockOrVoltageOnlySkipsTheHardwareReset) {
    for (const uint8_t failing : {0x61, 0xF7}) {
        SCOPED_TRACE(static_cast<int>(failing));
        DbgDev& dev = Open();
        bench().script(ScriptedAnswer::Transport(sim::drv::kFailure)
                           .When(failing == 0xF7 ? std::vector<uint8_t>{0xF7}
                                                 : std::vector<uint8_t>{0xF2, 0x61}));
        EXPECT_EQ(0, dev.OpenTarget(1, 1, 0, 0, 1));
        const std::vector<sim::WireEntry> sends = bench().sends();
        const Commands start =
            failing == 0xF7 ? Commands{kModeQuery, kModeQuery, FreqRequest(0, 1800), kVoltage}
                            : Commands{kModeQuery, kModeQuery, FreqRequest(0, 1800)};
        ASSERT_GT(sends.size(), start.size() + 4);
        EXPECT_TRUE(SendsAre({sends.begin(), sends.begin() + start.size() + 4},
                             Join({start, {kEnterSwd, kOpenAp0, kHaltWrite, kStatusRead}})));
        for (const sim::WireEntry& w : sends) {
            EXPECT_FALSE(w.cdb[1] == 0x3C && w.cdb[2] == 0x00) << "no reset line asserted";
        }
        EXPECT_EQ(failing == 0x61,
                  log_.contains("Error (3) while setting the SWD frequency to 1800 KHz"));
        EXPECT_TRUE(TargetOpen(dev));
    }
}

// ---- OpenTarget: failures

TEST_F(ConnectionTest, NoTargetAttachedGives4) {
    for (const int underReset : {0, 1}) {
        SCOPED_TRACE(underReset);
        sim::ProbeConfig config = Probe();
        config.targetAttached = false;
        DbgDev& dev = Open(config);
        TargetOpen(dev) = true;
        EXPECT_EQ(DBGDEV_NO_TARGET, dev.OpenTarget(1, underReset, 0, 0, 1));
        EXPECT_TRUE(SentExactly(underReset == 1 ? Join({ThirdGenStart(0, 1800),
                                                        {kAssertReset, kEnterSwd, kReleaseReset}})
                                                : Join({ThirdGenStart(0, 1800), {kEnterSwd}})));
        EXPECT_EQ((Lines{kVoltageText, "No target device detected: check JTAG signals",
                         "Error (4) while initializing Dravik in SWD mode"}),
                  log_.lines());
        EXPECT_FALSE(TargetOpen(dev));
    }
}

TEST_F(ConnectionTest, FailedEntryUnderResetReleasesTheLine) {
    DbgDev& dev = Open();
    bench().script(ScriptedAnswer::Status(0x0004).When({0xF2, 0x30}));
    EXPECT_EQ(DBGDEV_UNKNOWN_JTAG_CHAIN, dev.OpenTarget(0, 1, 0, 0, 1));
    EXPECT_TRUE(
        SentExactly(Join({ThirdGenStart(1, 1125), {kAssertReset, kEnterJtag, kReleaseReset}})));
    EXPECT_EQ("Error (7) while initializing Dravik in JTAG mode", log_.last());
    EXPECT_FALSE(Target().resetLineAsserted());

    // A failed release is reported; the result stays the entry's.
    DbgDev& again = Open();
    bench().script(ScriptedAnswer::Status(0x0005).When({0xF2, 0x30}));
    bench().script(ScriptedAnswer::Status(0x0081).When({0xF2, 0x3C, 0x01}));
    EXPECT_EQ(DBGDEV_NO_TARGET, again.OpenTarget(1, 1, 0, 0, 1));
    EXPECT_EQ("Error releasing target reset", log_.last());
    EXPECT_FALSE(TargetOpen(again));
}

TEST_F(ConnectionTest, FailedHardwareResetEndsTheSequence) {
    DbgDev& dev = Open();
    bench().script(ScriptedAnswer::Status(0x0081).When({0xF2, 0x3C, 0x00}));
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.OpenTarget(1, 1, 0, 0, 1));
    EXPECT_TRUE(SentExactly(Join({ThirdGenStart(0, 1800), {kAssertReset}})));
    EXPECT_EQ("Error activating hardware reset", log_.last());
    EXPECT_FALSE(TargetOpen(dev));

    // Firmware without the reset line command (V2.J12) cannot connect under reset.
    DbgDev& old = Open(Probe(2, 12));
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, old.OpenTarget(1, 1, 0, 0, 1));
    EXPECT_TRUE(SentExactly({kModeQuery}));
    EXPECT_EQ("Error activating hardware reset", log_.last());
}

TEST_F(ConnectionTest, FailedModeQueryClearsTargetOpen) {
    DbgDev& closed = MakeDevice();
    TargetOpen(closed) = true;
    EXPECT_EQ(DBGDEV_NO_PROBE, closed.OpenTarget(1, 0, 0, 0, 1));
    EXPECT_FALSE(TargetOpen(closed));
    EXPECT_TRUE(bench().log().empty());

    DbgDev& dev = Open(Probe(3, 7, sim::kModeDebug));
    TargetOpen(dev) = true;
    bench().script(ScriptedAnswer::Transport(sim::drv::kFailure));
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.OpenTarget(1, 0, 0, 0, 1));
    EXPECT_TRUE(SentExactly({kModeQuery}));
    EXPECT_FALSE(TargetOpen(dev));
}

// A connection already made is made again from the start.
TEST_F(ConnectionTest, ReconnectingInDebugModeRunsTheWholeSequence) {
    DbgDev& dev = Connected();
    EXPECT_EQ(0, dev.OpenTarget(1, 0, 0, 0, 1));
    EXPECT_TRUE(SentExactly(Join({ThirdGenStart(0, 1800),
                                  {kEnterSwd, kOpenAp0},
                                  {kHaltWrite, kStatusRead},
                                  ResetNotHeld(kSysResetReq)})));
    EXPECT_TRUE(TargetOpen(dev));
}

// ---- CloseTarget

TEST_F(ConnectionTest, CloseReleasesTheCoreAndLeavesDebugMode) {
    const struct {
        const char* name;
        uint8_t v, j;
        int apIndex;
        ExpectedCommand release;
    } cases[] = {
        {"access port commands", 3, 7, 0, kCloseAp0},
        {"access port 1", 3, 7, 1, In({0xF2, 0x4C, 0x01}, 2, 0)},
        {"no access port commands", 2, 27, 0, DebugWrite(kDhcsr, kDebugOff)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DbgDev& dev = Connected(Probe(c.v, c.j));
        DbgDevTestPeer::coreIdentified(dev) = true;
        EXPECT_EQ(0, dev.CloseTarget(c.apIndex));
        EXPECT_TRUE(SentExactly({kModeQuery, c.release, kLeaveDebug}));
        EXPECT_FALSE(TargetOpen(dev));
        EXPECT_FALSE(DbgDevTestPeer::coreIdentified(dev));
        EXPECT_EQ(sim::kModeIdle, ProbeState().mode);
        if (c.v == 2) {
            EXPECT_EQ(0u, Target().peekDhcsr() & armv7m::dhcsr::kCDebugen);
        }
    }
}

TEST_F(ConnectionTest, CloseWhileNotConnectedOnlyQueriesTheMode) {
    // Not connected, or the probe no longer in debug mode: nothing to leave.
    for (const uint8_t mode : {sim::kModeDebug, sim::kModeIdle}) {
        SCOPED_TRACE(static_cast<int>(mode));
        DbgDev& dev = Open(Probe(3, 7, mode));
        TargetOpen(dev) = mode == sim::kModeIdle;
        DbgDevTestPeer::coreIdentified(dev) = true;
        EXPECT_EQ(0, dev.CloseTarget(0));
        EXPECT_TRUE(SentExactly({kModeQuery}));
        EXPECT_FALSE(DbgDevTestPeer::coreIdentified(dev));
        EXPECT_EQ(mode == sim::kModeIdle, TargetOpen(dev));
        EXPECT_EQ(mode, ProbeState().mode);
    }

    // No probe open: nothing sent at all.
    DbgDev& closed = MakeDevice();
    bench().clearLog();
    DbgDevTestPeer::coreIdentified(closed) = true;
    EXPECT_EQ(0, closed.CloseTarget(0));
    EXPECT_TRUE(bench().log().empty());
    EXPECT_FALSE(DbgDevTestPeer::coreIdentified(closed));
}

TEST_F(ConnectionTest, CloseResultIsTheModeQueryOrTheExit) {
    DbgDev& dev = Connected();
    bench().script(ScriptedAnswer::Transport(sim::drv::kFailure));
    DbgDevTestPeer::coreIdentified(dev) = true;
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.CloseTarget(0));
    EXPECT_TRUE(SentExactly({kModeQuery}));
    EXPECT_TRUE(TargetOpen(dev));
    EXPECT_FALSE(DbgDevTestPeer::coreIdentified(dev));

    // The release's own result does not count.
    bench().clearLog();
    bench().script(ScriptedAnswer::Status(0x0011).When({0xF2, 0x4C}));
    EXPECT_EQ(0, dev.CloseTarget(0));
    EXPECT_TRUE(SentExactly({kModeQuery, kCloseAp0, kLeaveDebug}));
    EXPECT_FALSE(TargetOpen(dev));
}

TEST_F(ConnectionTest, AccessPortOtherThan0NeedsTheAccessPortCommands) {
    DbgDev& dev = Connected(Probe(2, 27));
    DbgDevTestPeer::coreIdentified(dev) = true;
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.CloseTarget(1));
    EXPECT_TRUE(bench().log().empty());
    EXPECT_TRUE(TargetOpen(dev));
    EXPECT_TRUE(DbgDevTestPeer::coreIdentified(dev));
    EXPECT_EQ(sim::kModeDebug, ProbeState().mode);
}

// ---- OpenDevice and CloseDevice

TEST_F(ConnectionTest, OpenDeviceOpensAndConnectsWithHaltAndSystemReset) {
    UseProbe(Probe());
    DbgDev& dev = MakeDevice();
    EXPECT_EQ(0, dev.OpenDevice(1, nullptr, 0, 0, 0));
    EXPECT_TRUE(DbgDevTestPeer::probeOpen(dev));
    EXPECT_TRUE(TargetOpen(dev));
    EXPECT_EQ(sim::RunState::Halted, Target().runState());
    EXPECT_EQ(sim::ResetKind::SystemReset, Target().lastResetKind());
    const std::vector<sim::WireEntry> sends = bench().sends();
    ASSERT_GE(sends.size(), 5u);
    EXPECT_EQ(0xF1, sends[0].cdb[0]) << "the version query";
    EXPECT_TRUE(SendsAre({sends.end() - 8, sends.end()}, ResetNotHeld(kSysResetReq)));

    // Under reset, and a failed connection's code passed on.
    DbgDev& underReset = MakeDevice();
    UseProbe(Probe());
    EXPECT_EQ(0, underReset.OpenDevice(0, nullptr, 1, 0, 0));
    EXPECT_EQ(sim::ResetKind::ResetLine, Target().lastResetKind());

    sim::ProbeConfig absent = Probe();
    absent.targetAttached = false;
    UseProbe(absent);
    DbgDev& noTarget = MakeDevice();
    EXPECT_EQ(DBGDEV_NO_TARGET, noTarget.OpenDevice(1, nullptr, 0, 0, 0));
    EXPECT_TRUE(DbgDevTestPeer::probeOpen(noTarget)) << "the probe stays open";
}

TEST_F(ConnectionTest, OpenDeviceCarriesTheFirmwareWarning) {
    UseProbe(Probe(2, 29));
    DbgDev& dev = MakeDevice();
    EXPECT_EQ(DBGDEV_FIRMWARE_NOT_LATEST, dev.OpenDevice(1, nullptr, 0, 0, 0));
    EXPECT_TRUE(TargetOpen(dev));
    EXPECT_EQ(sim::RunState::Halted, Target().runState());

    // A failing connection's code wins over the warning.
    sim::ProbeConfig absent = Probe(2, 29);
    absent.targetAttached = false;
    UseProbe(absent);
    DbgDev& noTarget = MakeDevice();
    EXPECT_EQ(DBGDEV_NO_TARGET, noTarget.OpenDevice(1, nullptr, 0, 0, 0));
}

TEST_F(ConnectionTest, OpenDeviceFailureSendsNothingMore) {
    UseProbe(Probe());
    DbgDev& dev = MakeDevice();
    EXPECT_EQ(DBGDEV_OPEN_FAILURE, dev.OpenDevice(1, nullptr, 0, 1, 0));
    EXPECT_EQ("Bad Dravik instance id (1 > 0)", log_.last());
    EXPECT_TRUE(bench().sends().empty());

    UseProbe(Probe(1, 10));
    DbgDev& old = MakeDevice();
    EXPECT_EQ(DBGDEV_FIRMWARE_TOO_OLD, old.OpenDevice(1, nullptr, 0, 0, 0));
    for (const sim::WireEntry& w : bench().sends()) {
        EXPECT_NE(0xF5, w.cdb[0]) << "no connection attempt";
    }
}

TEST_F(ConnectionTest, OpenDeviceOnAccessPort1NeedsTheAccessPortCommands) {
    UseProbe(Probe(2, 27));
    DbgDev& dev = MakeDevice();
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.OpenDevice(1, nullptr, 0, 0, 1));
    EXPECT_EQ("Access point !=0 not supported by this FW version, close opened connection",
              log_.last());
    EXPECT_FALSE(DbgDevTestPeer::probeOpen(dev));
    EXPECT_FALSE(TargetOpen(dev));
    EXPECT_EQ(sim::Call::CloseDevice, bench().log().back().call);
    for (const sim::WireEntry& w : bench().sends()) {
        EXPECT_NE(0xF5, w.cdb[0]) << "no connection attempt";
    }
    EXPECT_EQ(0u, bench().probe(0).state.openHandles);

    // With the commands, access port 1 is opened for the connection.
    UseProbe(Probe(2, 28));
    DbgDev& recent = MakeDevice();
    EXPECT_EQ(DBGDEV_FIRMWARE_NOT_LATEST, recent.OpenDevice(1, nullptr, 0, 0, 1));
    EXPECT_EQ(2u, ProbeState().openAccessPorts);
}

TEST_F(ConnectionTest, CloseDeviceClosesTargetThenProbe) {
    DbgDev& dev = Connected();
    dev.CloseDevice(0);
    EXPECT_TRUE(SentExactly({kModeQuery, kCloseAp0, kLeaveDebug}));
    EXPECT_EQ(sim::Call::CloseDevice, bench().log().back().call);
    EXPECT_FALSE(DbgDevTestPeer::probeOpen(dev));
    EXPECT_FALSE(TargetOpen(dev));

    // The target's refusal does not keep the probe open.
    DbgDev& old = Connected(Probe(2, 27));
    old.CloseDevice(1);
    EXPECT_TRUE(SentExactly({}));
    EXPECT_FALSE(DbgDevTestPeer::probeOpen(old));
    EXPECT_TRUE(TargetOpen(old));
}

TEST_F(ConnectionTest, DestroyedObjectClosesEverythingAndReleasesTheLibraryOnce) {
    const struct {
        const char* name;
        int state;  // 0 nothing open, 1 probe open, 2 connected
        std::vector<sim::Call> calls;
    } cases[] = {
        {"nothing open", 0, {sim::Call::FreeLibrary}},
        {"probe open", 1, {sim::Call::SendCommand, sim::Call::CloseDevice, sim::Call::FreeLibrary}},
        {"connected",
         2,
         {sim::Call::SendCommand, sim::Call::SendCommand, sim::Call::SendCommand,
          sim::Call::CloseDevice, sim::Call::FreeLibrary}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.state == 0) {
            MakeDevice();
        } else if (c.state == 1) {
            Open();
        } else {
            Connected();
        }
        bench().clearLog();
        const unsigned released = bench().freeLibraryCalls();
        dev_.reset();
        std::vector<sim::Call> calls;
        for (const sim::WireEntry& w : bench().log()) {
            calls.push_back(w.call);
        }
        EXPECT_EQ(c.calls, calls);
        if (c.state == 2) {
            EXPECT_TRUE(SentExactly({kModeQuery, kCloseAp0, kLeaveDebug}));
        }
        EXPECT_EQ(released + 1, bench().freeLibraryCalls());
        EXPECT_EQ(0u, bench().probe(0).state.openHandles);
    }
}

// ---- IdentifyTargetCore

TEST_F(ConnectionTest, IdentificationReadsRevisionAndCodeComparators) {
    const struct {
        uint32_t fpCtrl;
        bool rev2;
        uint16_t comparators;
        const char* message;
    } cases[] = {
        {0x00000260, false, 6, nullptr},
        {0x10000081, true, 8, nullptr},
        {0x800000A0, true, 10, nullptr},
        {0x000000F0, false, 10,
         "The target has 15 flash point we only 10 can be used with current software"},
        {0x0000B0B0, false, 10,
         "The target has 11 flash point we only 10 can be used with current software"},
        {0x00007F0F, false, 0, nullptr},  // only bits 7:4 count
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fpCtrl);
        DbgDev& dev = Connected();
        DbgDevTestPeer::fpbRev2(dev) = !c.rev2;
        bench().script(DebugReadAnswer(kFpCtrl, c.fpCtrl));
        EXPECT_EQ(0, dev.IdentifyTargetCore(0));
        EXPECT_TRUE(SentExactly({DebugRead(kFpCtrl)}));
        EXPECT_TRUE(DbgDevTestPeer::coreIdentified(dev));
        EXPECT_EQ(c.rev2, DbgDevTestPeer::fpbRev2(dev));
        EXPECT_EQ(c.comparators, DbgDevTestPeer::fpbCodeComparators(dev));
        EXPECT_EQ(c.message == nullptr ? Lines{} : Lines{c.message}, log_.lines());
    }
}

TEST_F(ConnectionTest, IdentificationOfTheModelsFpb) {
    sim::ProbeConfig config = Probe();
    config.target.fpb.codeComparators = 15;
    DbgDev& dev = Connected(config);
    EXPECT_EQ(0, dev.IdentifyTargetCore(0));
    EXPECT_EQ(Lines{"The target has 15 flash point we only 10 can be used with current software"},
              log_.lines());
    EXPECT_EQ(10, DbgDevTestPeer::fpbCodeComparators(dev));
    EXPECT_FALSE(DbgDevTestPeer::fpbRev2(dev));

    sim::ProbeConfig rev2 = Probe();
    rev2.target.fpb.revision = 2;
    rev2.target.fpb.codeComparators = 4;
    DbgDev& second = Connected(rev2);
    EXPECT_EQ(0, second.IdentifyTargetCore(0));
    EXPECT_TRUE(DbgDevTestPeer::fpbRev2(second));
    EXPECT_EQ(4, DbgDevTestPeer::fpbCodeComparators(second));
}

TEST_F(ConnectionTest, IdentificationIsReadOncePerConnection) {
    DbgDev& dev = Connected();
    EXPECT_EQ(0, dev.IdentifyTargetCore(0));
    EXPECT_EQ(0, dev.IdentifyTargetCore(0));
    EXPECT_TRUE(SentExactly({DebugRead(kFpCtrl)}));

    ASSERT_EQ(0, dev.CloseTarget(0));
    ASSERT_EQ(0, dev.OpenTarget(1, 0, 0, 0, 1));
    bench().clearLog();
    EXPECT_EQ(0, dev.IdentifyTargetCore(0));
    EXPECT_TRUE(SentExactly({DebugRead(kFpCtrl)}));
}

TEST_F(ConnectionTest, FailedIdentificationChangesNothing) {
    DbgDev& dev = Connected();
    DbgDevTestPeer::fpbRev2(dev) = true;
    bench().script(ScriptedAnswer::Status(0x0011).When({0xF2, 0x36}));
    EXPECT_EQ(DBGDEV_AP_FAULT, dev.IdentifyTargetCore(3));
    EXPECT_TRUE(SentExactly({In({0xF2, 0x36, 0x00, 0x20, 0x00, 0xE0, 0x03}, 8)}));
    EXPECT_FALSE(DbgDevTestPeer::coreIdentified(dev));
    EXPECT_TRUE(DbgDevTestPeer::fpbRev2(dev));
    EXPECT_EQ(10, DbgDevTestPeer::fpbCodeComparators(dev));
    // And the next call reads again.
    EXPECT_EQ(0, dev.IdentifyTargetCore(0));
    EXPECT_EQ(6, DbgDevTestPeer::fpbCodeComparators(dev));
}

// ---- The 2 s bounds

class ConnectionTimeoutTest : public ConnectionTest {};

// Under reset the halt is tried once and finds the target held; Reset releases the line, waits
// for its 2 s bound and reports the reset still active, with xPSR tried and DEMCR cleared.
TEST_F(ConnectionTimeoutTest, TargetStayingInResetGives17) {
    sim::ProbeConfig config = Probe();
    config.target.scenario.staysInReset = true;
    DbgDev& dev = Open(config);
    bench().clock.setManual(false);
    bench().clock.setExchangeLatencyUs(500);
    EXPECT_EQ(DBGDEV_HELD_IN_RESET, dev.OpenTarget(1, 1, 0, 0, 1));
    EXPECT_TRUE(log_.contains("Target is held under reset"));
    EXPECT_TRUE(log_.contains("Target reset still active after 2 seconds"));
    const std::vector<sim::WireEntry> sends = bench().sends();
    ASSERT_GE(sends.size(), 15u);
    EXPECT_TRUE(
        SendsAre({sends.begin(), sends.begin() + 14},
                 Join({ThirdGenStart(0, 1800),
                       {kAssertReset, kEnterSwd, kOpenAp0, kHaltWrite, kStatusRead, kStatusRead,
                        DebugWrite(kDemcr, 1), kStatusRead, kStatusRead, kReleaseReset}})));
    EXPECT_TRUE(SendsAre({sends.end()[-2], sends.end()[-1]}, {kXpsrWrite, DebugWrite(kDemcr, 0)}));
    EXPECT_TRUE(TargetOpen(dev));
    EXPECT_EQ(sim::RunState::InReset, Target().runState());
    EXPECT_EQ(0u, Target().demcr());
}

}  // namespace
}  // namespace dravik::test
