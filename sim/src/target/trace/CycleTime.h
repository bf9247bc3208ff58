#pragma once
// Exact conversions between bench time (microseconds) and core clock cycles.

#include <cstdint>

namespace dravik::sim::trace {

constexpr uint64_t kMicrosecondsPerSecond = 1000000;

// Cycles completed at `us` microseconds: floor(us * clockHz / 1e6), without overflow for any time a
// bench can reach. A function of the absolute time, so however time is sliced the counts agree.
constexpr uint64_t cyclesAt(uint64_t us, uint64_t clockHz) {
    return (us / kMicrosecondsPerSecond) * clockHz +
           (us % kMicrosecondsPerSecond) * clockHz / kMicrosecondsPerSecond;
}
static_assert(cyclesAt(1000, 72000000) == 72000);
static_assert(cyclesAt(1, 7) == 0 && cyclesAt(1000000, 7) == 7);

// Times floor(k * clockHz / ratePerSecond) for k = 0, 1, 2, ..., stepped without multiplying.
class RateSchedule {
  public:
    RateSchedule(uint64_t clockHz, uint64_t ratePerSecond)
        : rate_(ratePerSecond),
          step_(ratePerSecond ? clockHz / ratePerSecond : 0),
          remainder_(ratePerSecond ? clockHz % ratePerSecond : 0) {}

    uint64_t cycle() const { return cycle_; }
    void next() {
        cycle_ += step_;
        carry_ += remainder_;
        if (carry_ >= rate_) {
            carry_ -= rate_;
            ++cycle_;
        }
    }
    void restart() {
        cycle_ = 0;
        carry_ = 0;
    }

  private:
    uint64_t rate_;
    uint64_t step_;
    uint64_t remainder_;
    uint64_t cycle_ = 0;
    uint64_t carry_ = 0;
};

}  // namespace dravik::sim::trace
