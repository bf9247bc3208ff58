// The value to use: a common frequency within the measurement's reach, otherwise the nearest kHz.

#include <gtest/gtest.h>

#include "dravik/clock/ClockRounding.h"

namespace dravik::clock {
namespace {

TEST(ClockRounding, CommonFrequencyWithinReachElseNearestKhz) {
    const struct {
        double measuredHz;
        double uncertainty;
        uint32_t hz;
        bool nominal;
    } cases[] = {
        {71998000, 0.0002, 72000000, true},
        {72001000, 0.000001, 72000000, true},  // within a crystal's 100 ppm
        {71900000, 0.0002, 71900000, false},
        {71900400, 0.0002, 71900000, false},
        {71900600, 0.0002, 71901000, false},
        {11059150, 0.00005, 11059200, true},
        {48072000, 0.0005, 48072000, false},
        {16160000, 0.02, 16000000, true},  // 16 and 16.384 MHz both in reach: the nearer
        {8000000, 0.001, 8000000, true},
        {480020000, 0.0001, 480000000, true},
        {999400, 0.00001, 999000, false},
        {300, 0.01, 1000, false},  // never below 1 kHz
    };
    for (const auto& c : cases) {
        const RoundedClock r = roundClock(c.measuredHz, c.uncertainty, 100e-6);
        EXPECT_EQ(r.hz, c.hz) << c.measuredHz;
        EXPECT_EQ(r.nominal, c.nominal) << c.measuredHz;
    }
    EXPECT_EQ(roundClock(0, 0.01, 100e-6).hz, 0u);
}

}  // namespace
}  // namespace dravik::clock
