// Time as the capture sees it: a steady microsecond count and sleeping, replaceable in tests.
#pragma once

#include <cstdint>

namespace dravik::swv {

class Clock {
  public:
    virtual ~Clock() = default;
    virtual uint64_t nowUs() = 0;
    virtual void sleepUs(uint64_t us) = 0;
};

class SteadyClock final : public Clock {
  public:
    uint64_t nowUs() override;
    void sleepUs(uint64_t us) override;
};

// Wall clock, microseconds since the Unix epoch.
int64_t wallClockUs();

}  // namespace dravik::swv
