#include <gtest/gtest.h>

#include "dravik/swv/PollInterval.h"

namespace dravik::swv {
namespace {

TEST(PollInterval, CeilingIsAQuarterBufferAtFullLineSpeed) {
    // 2 Mbit/s: 200000 bytes/s fill a quarter of 4000 bytes in 5 ms.
    EXPECT_EQ(PollInterval(4000, swoLineBytesPerSecond(2000000)).ceilingUs(), 5000u);
    // A slow line is still polled 50 times a second.
    EXPECT_EQ(PollInterval(4000, swoLineBytesPerSecond(9600)).ceilingUs(), 20000u);
    // The fastest line the bench can run (72 Mbit/s) still leaves a floor.
    EXPECT_EQ(PollInterval(4000, swoLineBytesPerSecond(72000000)).ceilingUs(), 200u);
}

TEST(PollInterval, AnIdleLineBacksOffToTheCeiling) {
    PollInterval interval(4000, swoLineBytesPerSecond(2000000));
    std::vector<uint64_t> pauses;
    for (int i = 0; i < 8; ++i) {
        pauses.push_back(interval.next(0, 1000));
    }
    EXPECT_EQ(pauses, (std::vector<uint64_t>{100, 200, 400, 800, 1600, 3200, 5000, 5000}));
}

TEST(PollInterval, ABusyLineIsPolledAtOnce) {
    PollInterval interval(4000, swoLineBytesPerSecond(2000000));
    interval.next(0, 1000);
    EXPECT_EQ(interval.next(2000, 5000), 0u);
    EXPECT_EQ(interval.next(100, 0), 0u);
}

TEST(PollInterval, AimsForAQuarterOfTheBufferAtTheRateSeen) {
    PollInterval interval(4000, swoLineBytesPerSecond(2000000));
    // 100 bytes in 1 ms: a quarter (1000 bytes) takes 10 ms, above the 5 ms ceiling.
    EXPECT_EQ(interval.next(100, 1000), 5000u);
    // 500 bytes in 1 ms: 2 ms.
    EXPECT_EQ(interval.next(500, 1000), 2000u);
    // Then quiet again: the back-off doubles from there.
    EXPECT_EQ(interval.next(0, 2000), 4000u);
}

}  // namespace
}  // namespace dravik::swv
