// The measurement against the bench through DbgDev's register access, on the bench's manual
// clock with a USB round trip per exchange: the exact setup on the wire, the clock found, and a
// target without a cycle counter, asleep or halted.

#include <gtest/gtest.h>

#include <cmath>

#include "ClockAccess.h"
#include "TargetFixture.h"
#include "WireExpect.h"
#include "dravik/clock/ClockMeasurement.h"
#include "dravik/clock/ClockReport.h"

namespace dravik::test {
namespace {

using clock::ClockMeasurement;
using clock::ClockOutcome;
using clock::CoreState;

class BenchMeasurementTest : public TargetTest {
  protected:
    ClockMeasurement Measure(const sim::ProbeConfig& config, uint64_t latencyUs = 125,
                             uint64_t jitterUs = 125) {
        DbgDev& dev = Connect(config);
        bench().clock.setExchangeLatencyUs(latencyUs);
        bench().clock.setExchangeJitterUs(jitterUs, 5);
        DbgDevRegisters registers(dev);
        ManualBenchClock host;
        return clock::measureTargetClock(registers, host);
    }
    static sim::ProbeConfig Target(uint32_t coreClockHz) {
        sim::ProbeConfig config = DebugProbe();
        config.target.trace.coreClockHz = coreClockHz;
        return config;
    }
    size_t CounterReads() {
        size_t reads = 0;
        for (const sim::WireEntry& e : bench().sends()) {
            reads += SendsAre({e}, {DebugRead(clock::reg::kDwtCyccnt)}) ? 1 : 0;
        }
        return reads;
    }
};

TEST_F(BenchMeasurementTest, EnablesTheCounterAndFindsTheCoreClock) {
    const ClockMeasurement m = Measure(Target(48000000));
    ASSERT_EQ(ClockOutcome::Measured, m.outcome) << clock::formatClockMeasurement(m);
    EXPECT_EQ(48000000u, m.usedHz);
    EXPECT_LE(std::fabs(m.measuredHz - 48e6) / 48e6, m.uncertainty);
    EXPECT_TRUE(m.setTrcena);
    EXPECT_TRUE(m.setCycleCounter);
    const std::vector<sim::WireEntry> sends = bench().sends();
    ASSERT_GE(sends.size(), 7u);
    EXPECT_TRUE(SendsAre(
        {sends.begin(), sends.begin() + 7},
        {DebugRead(armv7m::kDemcr), DebugWrite(armv7m::kDemcr, 0x01000000),
         DebugRead(armv7m::kDemcr), DebugRead(0xE0001000), DebugWrite(0xE0001000, 0x40000001),
         DebugRead(0xE0001000), DebugRead(armv7m::kDhcsr)}));
    EXPECT_EQ(96u, CounterReads());
    EXPECT_EQ(103u, sends.size());
    EXPECT_EQ("target clock: measured 48.000 MHz +- " + clock::formatUncertainty(m.uncertainty) +
                  ", using 48 MHz",
              clock::formatClockMeasurement(m));
}

TEST_F(BenchMeasurementTest, MeasuresTheCoreClockOnEveryLink) {
    const struct {
        const char* name;
        uint32_t coreClockHz;
        uint32_t traceClockHz;
        uint64_t latencyUs;
        uint64_t jitterUs;
    } cases[] = {
        {"HS, TPIU at half the core clock", 72000000, 36000000, 125, 125},
        {"FS 480 MHz", 480000000, 0, 1000, 1000},
        {"FS 1 MHz", 1000000, 0, 1000, 1000},
        {"no latency", 168000000, 0, 0, 0},
    };
    for (const auto& c : cases) {
        sim::ProbeConfig config = Target(c.coreClockHz);
        config.target.trace.traceClockHz = c.traceClockHz;
        const ClockMeasurement m = Measure(config, c.latencyUs, c.jitterUs);
        ASSERT_EQ(ClockOutcome::Measured, m.outcome) << c.name;
        EXPECT_EQ(c.coreClockHz, m.usedHz) << c.name;
        EXPECT_LE(std::fabs(m.measuredHz - c.coreClockHz) / c.coreClockHz, 0.001) << c.name;
        EXPECT_LE(m.elapsedUs, 300000u) << c.name;
    }
}

TEST_F(BenchMeasurementTest, SaysWhyACounterCannotBeMeasured) {
    sim::ProbeConfig noCounter = Target(72000000);
    noCounter.target.trace.dwt.cycleCounter = false;
    ClockMeasurement m = Measure(noCounter);
    EXPECT_EQ(ClockOutcome::NoCycleCounter, m.outcome);
    EXPECT_EQ(0u, CounterReads());
    EXPECT_EQ(
        "target clock: not measured: the core has no cycle counter (DWT_CTRL.NOCYCCNT is "
        "set)",
        clock::formatClockMeasurement(m));

    sim::ProbeConfig asleep = Target(72000000);
    asleep.target.scenario.idlesInWfi = true;
    m = Measure(asleep);
    EXPECT_EQ(ClockOutcome::CounterStopped, m.outcome);
    EXPECT_EQ(CoreState::Sleeping, m.core);
    EXPECT_EQ(32u, CounterReads());
    EXPECT_EQ(
        "target clock: not measured: the cycle counter did not count, the core is asleep "
        "(WFI/WFE)",
        clock::formatClockMeasurement(m));

    asleep.target.trace.dwt.countsInSleep = true;
    m = Measure(asleep);
    EXPECT_EQ(ClockOutcome::Measured, m.outcome);
    EXPECT_EQ(72000000u, m.usedHz);

    Connect(Target(72000000));
    HaltTarget();
    DbgDevRegisters registers(*dev_);
    ManualBenchClock host;
    m = clock::measureTargetClock(registers, host);
    EXPECT_EQ(ClockOutcome::CounterStopped, m.outcome);
    EXPECT_EQ(CoreState::Halted, m.core);
    EXPECT_EQ(0u, CounterReads());
}

}  // namespace
}  // namespace dravik::test
