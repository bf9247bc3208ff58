// The host's monotonic clock as the measurement sees it: microseconds and a sleep, so a test or a
// bench can replace it (the bench's manual clock, a fake that jumps).
#pragma once

#include <cstdint>

namespace dravik::clock {

class HostClock {
  public:
    virtual ~HostClock() = default;
    // Monotonic microseconds from any origin.
    virtual uint64_t nowUs() = 0;
    virtual void sleepUs(uint64_t us) = 0;
};

// std::chrono::steady_clock.
class SteadyHostClock final : public HostClock {
  public:
    uint64_t nowUs() override;
    void sleepUs(uint64_t us) override;
};

}  // namespace dravik::clock
