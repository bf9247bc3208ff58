#include <gtest/gtest.h>

#include "dravik/swv/RateSolver.h"

namespace dravik::swv {
namespace {

struct SolveCase {
    uint32_t clockHz;
    uint32_t rateBps;
    uint32_t prescaler;
    const char* description;
    bool acceptable;
};

void PrintTo(const SolveCase& c, std::ostream* os) {
    *os << c.clockHz << " Hz for " << c.rateBps << " bit/s";
}

class SolvePrescaler : public testing::TestWithParam<SolveCase> {};

TEST_P(SolvePrescaler, PicksTheClosestDividerAndSaysHowFarOffItIs) {
    const SolveCase& c = GetParam();
    const std::optional<RateChoice> choice = solvePrescaler(c.clockHz, c.rateBps);
    ASSERT_TRUE(choice.has_value());
    EXPECT_EQ(choice->prescaler, c.prescaler);
    EXPECT_EQ(describeRate(*choice), c.description);
    EXPECT_EQ(choice->withinTolerance(), c.acceptable);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, SolvePrescaler,
    testing::Values(
        // The bench: 72 MHz, 2 Mbit/s is exact.
        SolveCase{72000000, 2000000, 36, "2000000 bit/s (72000000 Hz / 36), error +0.000 %", true},
        SolveCase{72000000, 3000000, 24, "3000000 bit/s (72000000 Hz / 24), error +0.000 %", true},
        // 72 / 37 = 1.946 (+2.4 %), 72 / 38 = 1.895 (-0.28 %): the second is closer.
        SolveCase{72000000, 1900000, 38, "1894736.842 bit/s (72000000 Hz / 38), error -0.277 %",
                  true},
        // 72 / 14 = 5.143 (+2.9 %) beats 72 / 15 = 4.8 (-4 %), and is still acceptable.
        SolveCase{72000000, 5000000, 14, "5142857.143 bit/s (72000000 Hz / 14), error +2.857 %",
                  true},
        // Halfway between 36 and 24 Mbit/s: a tie goes to the slower rate, which is refused.
        SolveCase{72000000, 30000000, 3, "24000000 bit/s (72000000 Hz / 3), error -20.000 %",
                  false},
        // Faster than the clock: the divider cannot go below 1.
        SolveCase{1000000, 5000000, 1, "1000000 bit/s (1000000 Hz / 1), error -80.000 %", false},
        // Slower than the largest divider allows.
        SolveCase{72000000, 1000, 65536, "1098.633 bit/s (72000000 Hz / 65536), error +9.863 %",
                  false},
        // Just inside and just outside 3 %.
        SolveCase{1030000, 1000000, 1, "1030000 bit/s (1030000 Hz / 1), error +3.000 %", true},
        SolveCase{1031000, 1000000, 1, "1031000 bit/s (1031000 Hz / 1), error +3.100 %", false}));

TEST(SolvePrescaler, RefusesZeroClockOrRate) {
    EXPECT_FALSE(solvePrescaler(0, 2000000).has_value());
    EXPECT_FALSE(solvePrescaler(72000000, 0).has_value());
}

TEST(RateForPrescaler, GivesTheExactRateWithoutAnError) {
    const std::optional<RateChoice> choice = rateForPrescaler(72000000, 37);
    ASSERT_TRUE(choice.has_value());
    EXPECT_DOUBLE_EQ(choice->actualBps, 72000000.0 / 37);
    EXPECT_EQ(choice->requestedBps, 0u);
    EXPECT_TRUE(choice->withinTolerance());
    EXPECT_EQ(describeRate(*choice), "1945945.946 bit/s (72000000 Hz / 37)");
    // The probe is told the truncated quotient, as the library computes it.
    EXPECT_EQ(receiverRate(*choice), 1945945u);
}

TEST(RateForPrescaler, AcceptsOnlyWhatTpiuAcprCanHold) {
    EXPECT_FALSE(rateForPrescaler(72000000, 0).has_value());
    EXPECT_TRUE(rateForPrescaler(72000000, 1).has_value());
    EXPECT_TRUE(rateForPrescaler(72000000, 65536).has_value());
    EXPECT_FALSE(rateForPrescaler(72000000, 65537).has_value());
    EXPECT_FALSE(rateForPrescaler(0, 36).has_value());
}

}  // namespace
}  // namespace dravik::swv
