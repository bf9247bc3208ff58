#pragma once
// The PCs of the DWT's periodic samples, drawn from a PcProfile: a sleep sample with the
// profile's sleep share, otherwise a halfword in a range chosen by weight. A fixed generator
// (splitmix64) from the profile's seed, not the standard library's distributions, so a bench
// gives the same samples with every compiler.

#include <cstdint>
#include <optional>
#include <vector>

#include "DravikBench/DwtTraceConfig.h"

namespace dravik::sim::trace {

struct PcSample {
    bool asleep = false;
    uint32_t pc = 0;  // when awake
};

class PcSampler {
  public:
    explicit PcSampler(const std::optional<PcProfile>& profile);

    // The sample taken now. Without a profile it is the core's PC, or the sleep form while the
    // core sleeps; a sleeping core always gives the sleep form.
    PcSample draw(bool coreAsleep, uint32_t corePc);
    // Back to the first draw of the seed.
    void restart();

  private:
    uint64_t next();
    double unit();  // uniform in [0, 1)

    std::optional<PcProfile> profile_;
    std::vector<double> cumulative_;  // running sum of the ranges' weights
    uint64_t state_ = 0;
};

}  // namespace dravik::sim::trace
