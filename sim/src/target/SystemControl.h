#pragma once
// The system control block registers that are not debug registers: CPUID, VTOR, AIRCR, SCR,
// CCR, the fault status registers and CPACR. Reset by every system or core reset.

#include <cstdint>

namespace dravik::sim {

enum class ResetRequest : uint8_t { None, VectorReset, SystemReset };

class SystemControl {
  public:
    SystemControl(uint32_t cpuid, uint32_t vtorReset);

    void reset();

    bool claims(uint32_t address) const;
    // Preconditions: claims(address), word-aligned.
    uint32_t read32(uint32_t address) const;
    // A keyed AIRCR write may request a reset; the caller carries it out.
    ResetRequest write32(uint32_t address, uint32_t value);

    uint32_t vtor() const { return vtor_; }

  private:
    uint32_t cpuid_;
    uint32_t vtorReset_;
    uint32_t vtor_ = 0;
    uint32_t prigroup_ = 0;
    uint32_t scr_ = 0;
    uint32_t ccr_ = 0;
    uint32_t cfsr_ = 0;
    uint32_t hfsr_ = 0;
    uint32_t cpacr_ = 0;
};

}  // namespace dravik::sim
