// Local timestamps (TSENA, TSPrescale) and periodic synchronisation packets (SYNCENA).

#include <gtest/gtest.h>

#include "trace_test_support.h"

namespace dravik::sim {
namespace {

using namespace trace;

TEST(ItmTimestamps, FollowEachPacketAfterAGapWithPrescaledTicks) {
    const struct {
        uint32_t tsPrescale;
        const char* stream;
    } cases[] = {
        // 0 us: none (no tick since TSENA); 1 us: 72 cycles; 10 us: 648 more.
        {0, "01 AA 01 BB C0 48 01 CC C0 88 05"},
        {1, "01 AA 01 BB C0 12 01 CC C0 A2 01"},  // 18 and 162 ticks of 4 cycles
        {2, "01 AA 01 BB 40 01 CC C0 29"},        // 4 ticks (8 cycles carried), then 41
        {3, "01 AA 01 BB 10 01 CC C0 0A"},        // 1 tick (8 carried), then 10
    };
    for (const auto& c : cases) {
        TraceConfig config;
        config.program = ScriptedTraceProgram{{{0, 0, 1, 0xAA}, {1, 0, 1, 0xBB}, {10, 0, 1, 0xCC}}};
        config.itmFifoBytes = 64;
        TraceUnit unit(config);
        tracetest::setUpSwo(
            unit, {35, 2, 1,
                   itm::kTcrItmEna | itm::kTcrTsEna | (c.tsPrescale << itm::kTcrTsPrescaleShift)});
        unit.advance(1000, tracetest::kRunning);
        EXPECT_EQ(tracetest::hex(unit.takeSwo()), c.stream) << "TSPrescale " << c.tsPrescale;
        EXPECT_EQ(unit.record().timestampPackets, 2u);
    }
}

TEST(ItmTimestamps, NoneWithoutTsenaAndCountingRestartsWhenEnabled) {
    TraceConfig config;
    config.program = ScriptedTraceProgram{{{0, 0, 1, 1}, {100, 0, 1, 2}, {101, 0, 1, 3}}};
    TraceUnit unit(config);
    tracetest::setUpSwo(unit);
    unit.advance(50, tracetest::kRunning);
    unit.write32(itm::kTcr, itm::kTcrItmEna | itm::kTcrTsEna, 100);  // just before the write
    unit.advance(1000, tracetest::kRunning);
    EXPECT_EQ(tracetest::hex(unit.takeSwo()), "01 01 01 02 01 03 C0 48");
}

TEST(ItmSync, PeriodicOnRunningCoreTimeWhenEnabled) {
    const struct {
        const char* name;
        uint32_t tcr;
        uint64_t packets;
    } cases[] = {
        {"ITMENA and SYNCENA", itm::kTcrItmEna | itm::kTcrSyncEna, 10},
        {"SYNCENA alone", itm::kTcrSyncEna, 0},
        {"ITMENA alone", itm::kTcrItmEna, 0},
    };
    for (const auto& c : cases) {
        TraceConfig config;
        config.program = IdleTraceProgram{};
        config.syncTiming = ItmSyncTiming::FixedPeriod;
        config.syncPeriodCycles = 7200;  // 100 us at 72 MHz
        TraceUnit unit(config);
        tracetest::setUpSwo(unit, {35, 2, 0xFFFFFFFF, c.tcr});
        unit.advance(1000, tracetest::kRunning);  // sync at 100, 200, ..., 1000 us
        unit.advance(2000, tracetest::kHalted);   // no running time: none, the queue drains
        unit.advance(2050, tracetest::kRunning);  // 50 us more: not yet the next
        const auto stream = unit.takeSwo();
        EXPECT_EQ(unit.record().syncPackets, c.packets) << c.name;
        ASSERT_EQ(stream.size(), 6 * c.packets) << c.name;
        for (size_t i = 0; i < stream.size(); ++i) {
            EXPECT_EQ(stream[i], i % 6 == 5 ? 0x80 : 0x00) << c.name << " byte " << i;
        }
    }
}

TEST(ItmSync, InterleavesWithInstrumentationPackets) {
    TraceConfig config;
    config.program = ScriptedTraceProgram{{{99, 3, 2, 0x0102}, {100, 3, 1, 0x03}}};
    config.syncTiming = ItmSyncTiming::FixedPeriod;
    config.syncPeriodCycles = 7200;
    TraceUnit unit(config);
    tracetest::setUpSwo(unit, {35, 2, 0xFFFFFFFF, itm::kTcrItmEna | itm::kTcrSyncEna});
    unit.advance(160, tracetest::kRunning);
    // At 100 us the firmware's write comes before the sync packet due at the same cycle.
    EXPECT_EQ(tracetest::hex(unit.takeSwo()), "1A 02 01 19 03 00 00 00 00 00 80");
}

}  // namespace
}  // namespace dravik::sim
