// The estimate behind measureCycleCounter, from the reads alone (see ClockMeasurement.h for the
// method): pure arithmetic, no I/O.
#pragma once

#include <cstdint>
#include <vector>

namespace dravik::clock {

// One CYCCNT read: the host's time just before and just after it, and the value.
struct CounterRead {
    uint64_t beforeUs = 0;
    uint64_t afterUs = 0;
    uint32_t value = 0;
};
// Back-to-back reads, one point of the measurement.
using ReadBurst = std::vector<CounterRead>;

struct ClockEstimate {
    enum class Status : uint8_t {
        Steady,    // hz and uncertainty hold the estimate
        Stopped,   // the counter never moved
        Unsteady,  // no majority of intervals agrees
    };
    Status status = Status::Stopped;
    double hz = 0;
    double uncertainty = 0;  // relative
    unsigned intervals = 0;
    unsigned intervalsAgreeing = 0;
};

// `bursts` in time order, each non-empty; at least two. `maxClockHz`: an interval so long that
// the counter could wrap twice at this rate is not trusted.
ClockEstimate estimateClock(const std::vector<ReadBurst>& bursts, double maxClockHz);

}  // namespace dravik::clock
