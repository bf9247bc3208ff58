// How long the drainer sleeps between two polls. The probe holds at most `bufferBytes`; polling
// when it is about a quarter full keeps a wide margin against loss while sparing the CPU. With
// nothing pending the pause doubles up to a ceiling set by how fast the line could fill the buffer,
// so an idle capture costs almost nothing and a burst after it still cannot overflow the probe.
#pragma once

#include <cstdint>

namespace dravik::swv {

class PollInterval {
  public:
    // lineBytesPerSecond: the most the SWO line can deliver (rate / 10 for 10-bit frames).
    PollInterval(uint32_t bufferBytes, double lineBytesPerSecond);

    // After a poll that fetched `bytes` over `elapsedUs` since the previous poll: the pause
    // before the next, in microseconds.
    uint64_t next(uint64_t bytes, uint64_t elapsedUs);

    uint64_t ceilingUs() const { return ceilingUs_; }
    double lineBytesPerSecond() const { return lineBytesPerSecond_; }
    uint64_t currentUs() const { return currentUs_; }

    static constexpr uint64_t kMinPauseUs = 100;      // first step up from polling at once
    static constexpr uint64_t kMaxCeilingUs = 20000;  // polls on an idle line: 50 a second
    static constexpr uint64_t kMinCeilingUs = 200;

  private:
    uint32_t bufferBytes_;
    double lineBytesPerSecond_;
    uint64_t ceilingUs_;
    uint64_t currentUs_ = 0;
};

// Bytes per second an SWO line carries at `bitRate` (10-bit UART frames).
inline double swoLineBytesPerSecond(double bitRate) {
    return bitRate / 10.0;
}

}  // namespace dravik::swv
