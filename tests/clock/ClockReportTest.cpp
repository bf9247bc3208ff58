// The texts of a measurement, exactly.

#include <gtest/gtest.h>

#include "dravik/clock/ClockReport.h"

namespace dravik::clock {
namespace {

ClockMeasurement withOutcome(ClockOutcome outcome) {
    ClockMeasurement m;
    m.outcome = outcome;
    return m;
}

TEST(ClockReport, OneLinePerOutcome) {
    ClockMeasurement measured = withOutcome(ClockOutcome::Measured);
    measured.measuredHz = 71998123;
    measured.uncertainty = 0.00015;
    measured.usedHz = 72000000;
    ClockMeasurement odd = measured;
    odd.measuredHz = 11059203;
    odd.uncertainty = 0.00000001;
    odd.usedHz = 11059200;
    ClockMeasurement imprecise = withOutcome(ClockOutcome::Imprecise);
    imprecise.measuredHz = 71400000;
    imprecise.uncertainty = 0.0213;
    ClockMeasurement demcr = withOutcome(ClockOutcome::NotEnabled);
    demcr.problem = {reg::kDemcr, false, 0, 0x00000001};
    ClockMeasurement ctrl = withOutcome(ClockOutcome::NotEnabled);
    ctrl.problem = {reg::kDwtCtrl, false, 0, 0x40000000};
    ClockMeasurement readFailed = withOutcome(ClockOutcome::AccessFailed);
    readFailed.problem = {reg::kDwtCyccnt, false, 19, 0};
    ClockMeasurement writeFailed = withOutcome(ClockOutcome::AccessFailed);
    writeFailed.problem = {reg::kDemcr, true, 4, 0};
    ClockMeasurement unsteady = withOutcome(ClockOutcome::Unsteady);
    unsteady.intervals = 5;
    unsteady.intervalsAgreeing = 2;

    const std::string notMeasured = "target clock: not measured: ";
    const struct {
        ClockMeasurement m;
        std::string text;
    } cases[] = {
        {measured, "target clock: measured 71.998 MHz +- 0.02 %, using 72 MHz"},
        {odd, "target clock: measured 11.059 MHz +- 0.01 %, using 11.0592 MHz"},
        {imprecise, "target clock: measured 71.400 MHz +- 2.13 %, too imprecise to use"},
        {withOutcome(ClockOutcome::NoCycleCounter),
         notMeasured + "the core has no cycle counter (DWT_CTRL.NOCYCCNT is set)"},
        {demcr, notMeasured + "DEMCR.TRCENA did not stay set (read back 0x00000001)"},
        {ctrl, notMeasured + "DWT_CTRL.CYCCNTENA did not stay set (read back 0x40000000)"},
        {readFailed, notMeasured + "reading DWT_CYCCNT (0xE0001004) failed with 19"},
        {writeFailed, notMeasured + "writing DEMCR (0xE000EDFC) failed with 4"},
        {withOutcome(ClockOutcome::CounterStopped),
         notMeasured + "the cycle counter did not count, the core is halted or asleep"},
        {unsteady, notMeasured +
                       "the cycle counter did not count steadily (2 of 5 intervals agree): the "
                       "core halted or slept while it was measured"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(formatClockMeasurement(c.m), c.text);
        EXPECT_EQ(describeClockFailure(c.m).empty(), c.m.outcome == ClockOutcome::Measured);
    }

    const struct {
        CoreState core;
        const char* why;
    } states[] = {
        {CoreState::Halted, "the core is halted"},
        {CoreState::Sleeping, "the core is asleep (WFI/WFE)"},
        {CoreState::LockedUp, "the core is locked up"},
        {CoreState::InReset, "the core is held in reset"},
        {CoreState::Running, "though the core runs (the firmware may have stopped it)"},
    };
    for (const auto& s : states) {
        ClockMeasurement m = withOutcome(ClockOutcome::CounterStopped);
        m.core = s.core;
        EXPECT_EQ(describeClockFailure(m),
                  std::string("the cycle counter did not count, ") + s.why);
    }
}

TEST(ClockReport, FrequenciesAndUncertainties) {
    const struct {
        uint32_t hz;
        const char* text;
    } frequencies[] = {
        {72000000, "72 MHz"},          {11059200, "11.0592 MHz"}, {71998000, "71.998 MHz"},
        {32768, "32.768 kHz"},         {900, "900 Hz"},           {1000000, "1 MHz"},
        {480000001, "480.000001 MHz"},
    };
    for (const auto& f : frequencies) {
        EXPECT_EQ(formatHz(f.hz), f.text);
    }
    EXPECT_EQ(formatUncertainty(0.0002), "0.02 %");
    EXPECT_EQ(formatUncertainty(0.00021), "0.03 %") << "rounded up";
    EXPECT_EQ(formatUncertainty(0.0000001), "0.01 %") << "never shown as 0";
    EXPECT_EQ(formatUncertainty(0.0213), "2.13 %");
}

}  // namespace
}  // namespace dravik::clock
