// The measurement on a fake link: the slope at several clocks and link speeds, the counter's
// wrap, where in the round trip the counter is sampled, reads held up on the host, a counter that
// stalls, stops, jumps or cannot be read.

#include <gtest/gtest.h>

#include <cmath>

#include "FakeLink.h"
#include "dravik/clock/ClockMeasurement.h"

namespace dravik::clock {
namespace {

using testing::FakeLink;
using testing::LinkConfig;
using testing::SamplePoint;
using testing::Stall;

ClockMeasurement measure(const LinkConfig& config, const MeasureOptions& options = {}) {
    FakeLink link(config);
    ClockMeasurement m =
        measureCycleCounter([&link](uint32_t& value) { return link.read(value); }, link, options);
    EXPECT_EQ(m.reads, link.reads());
    return m;
}

double errorOf(const ClockMeasurement& m, double hz) {
    return std::fabs(m.measuredHz - hz) / hz;
}

LinkConfig hs(double hz) {
    LinkConfig c;
    c.clockHz = hz;
    return c;
}

LinkConfig fs(double hz) {
    LinkConfig c;
    c.clockHz = hz;
    c.latencyUs = 1000;
    c.jitterUs = 1000;
    return c;
}

// The error stays within the reported uncertainty, within 0.1 %, and the value used is the
// nominal clock; on a full-speed link too, in 300 ms of host time.
TEST(ClockMeasurement, SlopeGivesTheClockWithinItsUncertainty) {
    const struct {
        const char* name;
        LinkConfig link;
        uint32_t used;
    } cases[] = {
        {"HS 1 MHz", hs(1e6), 1000000},
        {"HS 72 MHz", hs(72e6), 72000000},
        {"HS 480 MHz", hs(480e6), 480000000},
        {"HS 11.0592 MHz", hs(11.0592e6), 11059200},
        {"FS 1 MHz", fs(1e6), 1000000},
        {"FS 72 MHz", fs(72e6), 72000000},
        {"FS 480 MHz", fs(480e6), 480000000},
        {"FS 168 MHz", fs(168e6), 168000000},
        {"HS 71.998 MHz: a crystal 28 ppm off", hs(71.998e6), 72000000},
    };
    for (const auto& c : cases) {
        for (uint64_t seed : {1, 2, 3}) {
            LinkConfig link = c.link;
            link.seed = seed;
            const ClockMeasurement m = measure(link);
            ASSERT_EQ(m.outcome, ClockOutcome::Measured) << c.name << " seed " << seed;
            EXPECT_LE(errorOf(m, link.clockHz), m.uncertainty) << c.name << " seed " << seed;
            EXPECT_LE(errorOf(m, link.clockHz), 0.001) << c.name << " seed " << seed;
            EXPECT_EQ(m.usedHz, c.used) << c.name << " seed " << seed;
            EXPECT_TRUE(m.nominal) << c.name;
            EXPECT_EQ(m.intervals, 5u);
            EXPECT_EQ(m.intervalsAgreeing, 5u);
            EXPECT_EQ(m.reads, 96u);
            EXPECT_LE(m.elapsedUs, 300000u) << c.name;
        }
    }
}

TEST(ClockMeasurement, WithoutJitterAnOddClockRoundsToTheNearestKhz) {
    LinkConfig link = hs(70.5012e6);
    link.jitterUs = 0;
    const ClockMeasurement m = measure(link);
    ASSERT_EQ(m.outcome, ClockOutcome::Measured);
    EXPECT_EQ(m.usedHz, 70501000u);
    EXPECT_FALSE(m.nominal);
    EXPECT_LT(m.uncertainty, 0.0001);
}

TEST(ClockMeasurement, TheCountersWrapIsUndone) {
    for (uint32_t start : {0xFFFFFF00u, 0xF0000000u, 0x80000000u}) {
        LinkConfig link = hs(480e6);
        link.startValue = start;
        const ClockMeasurement m = measure(link);
        ASSERT_EQ(m.outcome, ClockOutcome::Measured) << std::hex << start;
        EXPECT_EQ(m.usedHz, 480000000u);
        EXPECT_LE(errorOf(m, 480e6), m.uncertainty);
    }
}

// Wherever the probe samples inside the brackets, a constant part cancels and the jitter stays
// within them.
TEST(ClockMeasurement, AnyPointInsideTheBracketGivesTheSameClock) {
    for (SamplePoint point : {SamplePoint::JitterBefore, SamplePoint::JitterAfter,
                              SamplePoint::AtStart, SamplePoint::AtEnd}) {
        LinkConfig link = fs(72e6);
        link.sample = point;
        const ClockMeasurement m = measure(link);
        ASSERT_EQ(m.outcome, ClockOutcome::Measured) << static_cast<int>(point);
        EXPECT_LE(errorOf(m, 72e6), m.uncertainty) << static_cast<int>(point);
        EXPECT_EQ(m.usedHz, 72000000u);
    }
}

TEST(ClockMeasurement, ReadsHeldUpOnTheHostDoNotMatter) {
    for (unsigned every : {3u, 7u}) {
        LinkConfig link = hs(48e6);
        link.holdEvery = every;
        const ClockMeasurement m = measure(link);
        ASSERT_EQ(m.outcome, ClockOutcome::Measured) << every;
        EXPECT_LE(errorOf(m, 48e6), m.uncertainty) << every;
        EXPECT_LE(errorOf(m, 48e6), 0.0002) << every;
    }
}

// Bursts start at 0, 40, 80, 120, 160 and 200 ms. An interval where the counter stood still for
// a while, or was written, is left out; the rest still give the clock.
TEST(ClockMeasurement, IntervalsWhereTheCounterStoppedOrJumpedAreLeftOut) {
    const struct {
        const char* name;
        std::vector<Stall> stalls;
        uint64_t jumpAtUs;
        unsigned agreeing;
    } cases[] = {
        {"halted 10 ms in the second interval", {{50000, 60000}}, 0, 4},
        {"asleep 0.5 ms in the fourth", {{130000, 130500}}, 0, 4},
        {"halted while the third burst was read", {{80500, 81000}}, 0, 3},
        {"halted twice", {{10000, 20000}, {170000, 175000}}, 0, 3},
        {"counter written in the third interval", {}, 100000, 4},
    };
    for (const auto& c : cases) {
        LinkConfig link = hs(72e6);
        link.stalls = c.stalls;
        link.jumpAtUs = c.jumpAtUs;
        const ClockMeasurement m = measure(link);
        ASSERT_EQ(m.outcome, ClockOutcome::Measured) << c.name;
        EXPECT_EQ(m.intervalsAgreeing, c.agreeing) << c.name;
        EXPECT_LE(errorOf(m, 72e6), m.uncertainty) << c.name;
        EXPECT_EQ(m.usedHz, 72000000u) << c.name;
    }
}

TEST(ClockMeasurement, ACounterThatDoesNotCountRunSteadilyIsNotMeasured) {
    LinkConfig stopped = hs(72e6);
    stopped.stalls = {{0, 1000000}};
    const ClockMeasurement s = measure(stopped);
    EXPECT_EQ(s.outcome, ClockOutcome::CounterStopped);
    EXPECT_EQ(s.reads, 32u) << "known after the second burst";
    EXPECT_LT(s.elapsedUs, 45000u);

    LinkConfig late = hs(72e6);
    late.stalls = {{0, 30000}};  // still at the first burst, then it counts
    EXPECT_EQ(measure(late).outcome, ClockOutcome::Measured);

    LinkConfig mostly = hs(72e6);
    mostly.stalls = {{45000, 155000}};
    const ClockMeasurement u = measure(mostly);
    EXPECT_EQ(u.outcome, ClockOutcome::Unsteady);
    EXPECT_EQ(u.intervals, 5u);
    EXPECT_EQ(u.intervalsAgreeing, 2u);
}

TEST(ClockMeasurement, AFailedReadEndsIt) {
    LinkConfig link = hs(72e6);
    link.failRead = 20;
    const ClockMeasurement m = measure(link);
    EXPECT_EQ(m.outcome, ClockOutcome::AccessFailed);
    EXPECT_EQ(m.problem.address, reg::kDwtCyccnt);
    EXPECT_FALSE(m.problem.write);
    EXPECT_EQ(m.problem.result, 19);
    EXPECT_EQ(m.reads, 20u);
}

TEST(ClockMeasurement, TooMuchJitterForTheWindowIsImprecise) {
    LinkConfig link = fs(72e6);
    link.jitterUs = 20000;
    MeasureOptions options;
    options.windowUs = 50000;
    options.readsPerBurst = 4;
    const ClockMeasurement m = measure(link, options);
    EXPECT_EQ(m.outcome, ClockOutcome::Imprecise);
    EXPECT_GT(m.uncertainty, options.maxUncertainty);
    EXPECT_EQ(m.usedHz, 0u);
}

}  // namespace
}  // namespace dravik::clock
