// The DWT behind the trace unit: DWT_CTRL's fixed and writable fields, TRCENA gating, the cycle
// counter against the core's run state, PCSR, the comparators NUMCOMP implements, and the ITM
// synchronisation packets that CYCCNT's tap paces.

#include <gtest/gtest.h>

#include "target/DwtRegisters.h"
#include "target_fixture.h"
#include "trace_test_support.h"

namespace dravik::sim {
namespace {

using namespace trace;

constexpr CoreActivity kHaltedNoTrcena{false, false, false};

uint32_t read(TraceUnit& unit, uint32_t address, uint64_t nowUs = 0) {
    return tracetest::readReg(unit, address, nowUs);
}

TraceUnit& enabled(TraceUnit& unit, const CoreActivity& activity = tracetest::kRunning) {
    unit.activityChanged(0, activity);
    unit.write32(dwt::kCtrl, dwt::ctrl::kCyccntena, 0);
    return unit;
}

TEST(Dwt, CtrlShowsTheImplementedFeaturesAndKeepsOnlyTheirBits) {
    const struct {
        const char* name;
        DwtConfig config;
        uint32_t reset;
        uint32_t allOnes;  // read back after writing 0xFFFFFFFF
    } cases[] = {
        {"Cortex-M4", DwtConfig{}, 0x40000000, 0x407F1FFF},
        {"no cycle counter", DwtConfig{4, false}, 0x42000000, 0x423F0000},
        {"no profiling counters", DwtConfig{4, true, false}, 0x41000000, 0x41411FFF},
        {"no trace packets", DwtConfig{4, true, true, false}, 0x48000000, 0x483E0FFF},
        {"no external triggers, 1 comparator", DwtConfig{1, true, true, true, false}, 0x14000000,
         0x147F1FFF},
        {"nothing", DwtConfig{0, false, false, false, false}, 0x0F000000, 0x0F000000},
    };
    for (const auto& c : cases) {
        TraceConfig config;
        config.dwt = c.config;
        TraceUnit unit(config);
        unit.activityChanged(0, tracetest::kHalted);
        EXPECT_EQ(read(unit, dwt::kCtrl), c.reset) << c.name;
        unit.write32(dwt::kCtrl, 0xFFFFFFFF, 0);
        EXPECT_EQ(read(unit, dwt::kCtrl), c.allOnes) << c.name;
        unit.write32(dwt::kCtrl, 0, 0);
        EXPECT_EQ(read(unit, dwt::kCtrl), c.reset) << c.name;
    }
}

TEST(Dwt, RegistersNeedTrcena) {
    TraceUnit unit;
    unit.activityChanged(0, kHaltedNoTrcena);
    unit.write32(dwt::kCtrl, dwt::ctrl::kCyccntena, 0);
    unit.write32(dwt::kCyccnt, 1234, 0);
    EXPECT_EQ(read(unit, dwt::kCtrl), 0u);
    EXPECT_EQ(read(unit, 0xE0001FE0), 0u) << "PID0";
    unit.activityChanged(0, tracetest::kHalted);
    EXPECT_EQ(read(unit, dwt::kCtrl), silicon::kDwtCtrlCortexM4) << "the writes were ignored";
    EXPECT_EQ(read(unit, dwt::kCyccnt), 0u);
    EXPECT_EQ(read(unit, 0xE0001FE0), 0x02u) << "PID0";
    EXPECT_EQ(read(unit, 0xE0001FFC), 0xB1u) << "CID3";

    // Set while TRCENA is on, kept while it is off, but nothing counts then.
    unit.write32(dwt::kCtrl, dwt::ctrl::kCyccntena, 0);
    unit.advance(1000, tracetest::kRunningNoTrcena);
    unit.activityChanged(1000, tracetest::kRunning);
    EXPECT_EQ(read(unit, dwt::kCtrl, 1000), silicon::kDwtCtrlCortexM4 | dwt::ctrl::kCyccntena);
    EXPECT_EQ(read(unit, dwt::kCyccnt, 1000), 0u);
}

TEST(Dwt, CycleCounterCountsCoreCyclesWhileTheCoreRuns) {
    const struct {
        const char* name;
        CoreActivity activity;
        bool countsInSleep;
        uint32_t after1ms;  // at 72 MHz
    } cases[] = {
        {"running", tracetest::kRunning, false, 72000},
        {"asleep", tracetest::kSleeping, false, 0},
        {"asleep, counting in sleep", tracetest::kSleeping, true, 72000},
        {"halted or in reset", tracetest::kHalted, true, 0},
    };
    for (const auto& c : cases) {
        TraceConfig config;
        config.dwt.countsInSleep = c.countsInSleep;
        TraceUnit unit(config);
        enabled(unit, c.activity);
        unit.advance(1000, c.activity);
        EXPECT_EQ(read(unit, dwt::kCyccnt, 1000), c.after1ms) << c.name;
    }

    TraceUnit unit;
    enabled(unit);
    unit.advance(10, tracetest::kRunning);
    unit.write32(dwt::kCtrl, 0, 10);  // CYCCNTENA off: the count stays
    unit.advance(20, tracetest::kRunning);
    EXPECT_EQ(read(unit, dwt::kCyccnt, 20), 720u);
}

TEST(Dwt, CycleCounterTakesWritesAndWrapsAt32Bits) {
    TraceUnit unit;
    enabled(unit);
    unit.write32(dwt::kCyccnt, 0xFFFFFF00, 0);
    unit.advance(1, tracetest::kRunning);
    EXPECT_EQ(read(unit, dwt::kCyccnt, 1), 0xFFFFFF48u);
    unit.advance(5, tracetest::kRunning);
    EXPECT_EQ(read(unit, dwt::kCyccnt, 5), 0x00000068u);  // 360 cycles on: wrapped
    unit.write32(dwt::kCyccnt, 7, 5);
    EXPECT_EQ(read(unit, dwt::kCyccnt, 5), 7u);

    TraceConfig config;
    config.dwt.cycleCounter = false;
    TraceUnit none(config);
    enabled(none);
    none.write32(dwt::kCyccnt, 7, 0);
    none.advance(1000, tracetest::kRunning);
    EXPECT_EQ(read(none, dwt::kCyccnt, 1000), 0u);
}

TEST(Dwt, ProfilingCountersAndComparatorsHoldWhatIsWrittenAsImplemented) {
    const struct {
        const char* name;
        uint32_t address;
        uint32_t readBack;  // after writing 0xFFFFFFFF
    } cases[] = {
        {"CPICNT 8 bits", dwt::kCpicnt, 0xFF},
        {"FOLDCNT 8 bits", dwt::kFoldcnt, 0xFF},
        {"PCSR read-only", dwt::kPcsr, dwt::kPcsrNotRunning},
        {"COMP0", dwt::comp(0), 0xFFFFFFFF},
        {"MASK0 5 bits", dwt::mask(0), 0x1F},
        {"FUNCTION1 without LNK1ENA and MATCHED", dwt::function(1), 0x000FFDAF},
        {"COMP1", dwt::comp(1), 0xFFFFFFFF},
        {"COMP2: beyond NUMCOMP 2", dwt::comp(2), 0},
        {"FUNCTION14: beyond NUMCOMP 2", dwt::function(14), 0},
        {"reserved word of comparator 0", dwt::comp(0) + 12, 0},
    };
    TraceConfig config;
    config.dwt.comparators = 2;
    TraceUnit unit(config);
    unit.activityChanged(0, tracetest::kHalted);
    for (const auto& c : cases) {
        unit.write32(c.address, 0xFFFFFFFF, 0);
        EXPECT_EQ(read(unit, c.address), c.readBack) << c.name;
    }
    EXPECT_EQ(read(unit, dwt::kCtrl) >> dwt::ctrl::kNumcompShift, 2u);
}

TEST(Dwt, PcsrShowsThePcOfARunningCore) {
    TraceUnit unit;
    unit.setPcSource([] { return 0x08000242u; });
    unit.activityChanged(0, tracetest::kRunning);
    EXPECT_EQ(read(unit, dwt::kPcsr), 0x08000242u);
    unit.activityChanged(0, tracetest::kSleeping);
    EXPECT_EQ(read(unit, dwt::kPcsr), 0x08000242u);
    unit.activityChanged(0, tracetest::kHalted);
    EXPECT_EQ(read(unit, dwt::kPcsr), dwt::kPcsrNotRunning);
}

TEST(Dwt, PowerOnResetClearsIt) {
    TraceUnit unit;
    enabled(unit);
    unit.write32(dwt::comp(0), 0x20000000, 0);
    unit.advance(100, tracetest::kRunning);
    unit.powerOnReset(100);
    EXPECT_EQ(read(unit, dwt::kCtrl, 100), silicon::kDwtCtrlCortexM4);
    EXPECT_EQ(read(unit, dwt::kCyccnt, 100), 0u);
    EXPECT_EQ(read(unit, dwt::comp(0), 100), 0u);
}

// On the target's bus: halting and resetting the core stop the counter, a system reset keeps it.
TEST(Dwt, OnTheBusFollowsTheCoresRunState) {
    namespace reg = armv7m;
    TraceUnit unit;
    testing::TargetHarness h;
    h.core.attach(unit);
    h.write32(reg::kDemcr, reg::demcr::kTrcena);
    h.write32(dwt::kCtrl, dwt::ctrl::kCyccntena);  // at 2 us
    h.nowUs = 101;
    EXPECT_EQ(h.read32(dwt::kCyccnt), 100u * 72);  // read at 102 us
    h.halt();                                      // at 103 us
    h.nowUs = 1000;
    EXPECT_EQ(h.read32(dwt::kCyccnt), 101u * 72);
    h.write32(reg::kDhcsr, testing::kDhcsrRun);  // at 1002 us
    h.write32(reg::kAircr, testing::kAircrSysReset);
    h.nowUs = 2000;
    EXPECT_EQ(h.read32(dwt::kCyccnt), 102u * 72 + (2001 - 1003) * 72);
    EXPECT_EQ(h.read32(dwt::kCtrl), silicon::kDwtCtrlCortexM4 | dwt::ctrl::kCyccntena);
}

TEST(ItmSync, FollowsTheCycleCounterTap) {
    const struct {
        const char* name;
        uint32_t dwtCtrl;
        uint32_t cyccntStart;
        uint64_t packets;
    } cases[] = {
        // 10 s at 72 MHz: 720 M cycles.
        {"tap at bit 24: every 16 M cycles", dwt::ctrl::kCyccntena | (1u << 10), 0, 42},
        {"tap at bit 26", dwt::ctrl::kCyccntena | (2u << 10), 0, 10},
        {"tap at bit 28, counter just below it", dwt::ctrl::kCyccntena | (3u << 10), 0x0FFFFFFF, 3},
        {"no tap", dwt::ctrl::kCyccntena, 0, 0},
        {"counter off", 1u << 10, 0, 0},
    };
    for (const auto& c : cases) {
        TraceConfig config;
        config.program = IdleTraceProgram{};
        TraceUnit unit(config);
        tracetest::setUpSwo(unit, {35, 2, 0, itm::kTcrItmEna | itm::kTcrSyncEna});
        unit.write32(dwt::kCyccnt, c.cyccntStart, 0);
        unit.write32(dwt::kCtrl, c.dwtCtrl, 0);
        unit.advance(5000000, tracetest::kRunning);
        unit.advance(6000000, tracetest::kHalted);  // no counting: no sync
        unit.advance(11000000, tracetest::kRunning);
        EXPECT_EQ(unit.record().syncPackets, c.packets) << c.name;
        EXPECT_EQ(unit.takeSwo().size(), 6 * c.packets) << c.name;
    }
}

}  // namespace
}  // namespace dravik::sim
