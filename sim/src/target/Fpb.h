#pragma once
// Flash patch and breakpoint unit: FP_CTRL, FP_REMAP and the comparators. Debug logic, so only a
// power-on reset clears it. The model keeps the registers; it does not patch or break on fetches.

#include <DravikBench/TargetConfig.h>

#include <cstdint>
#include <vector>

namespace dravik::sim {

class Fpb {
  public:
    explicit Fpb(const FpbConfig& config);

    void powerOnReset();

    bool claims(uint32_t address) const;
    // Preconditions: claims(address), word-aligned.
    uint32_t read32(uint32_t address) const;
    void write32(uint32_t address, uint32_t value);

    bool enabled() const { return enabled_; }
    unsigned comparatorCount() const { return static_cast<unsigned>(comparators_.size()); }
    uint32_t comparator(unsigned n) const { return comparators_.at(n); }

  private:
    FpbConfig config_;
    bool enabled_ = false;
    uint32_t remap_ = 0;
    std::vector<uint32_t> comparators_;  // code comparators first, then literal ones
};

}  // namespace dravik::sim
