#pragma once
// The core's register file as the debugger reaches it through DCRSR REGSEL numbers.

#include <array>
#include <cstdint>

namespace dravik::sim {

class CoreRegisters {
  public:
    static constexpr unsigned kCoreRegisterCount = 21;  // REGSEL 0..20, 19 unassigned
    static constexpr unsigned kFpuRegisterCount = 33;   // S0..S31, then FPSCR
    static constexpr unsigned kFpscrIndex = 32;

    explicit CoreRegisters(bool hasFpu);

    // Core reset: general registers cleared, LR 0xFFFFFFFF, special registers 0, FPSCR 0.
    void reset(uint32_t msp, uint32_t pc, uint32_t xpsr);

    static bool isCoreRegister(unsigned regsel);
    bool isFpuIndex(unsigned index) const { return hasFpu_ && index < kFpuRegisterCount; }

    // Preconditions: isCoreRegister(regsel), isFpuIndex(index). Writes drop bits the
    // architecture keeps at zero (SP alignment, reserved xPSR bits, unimplemented BASEPRI bits).
    uint32_t core(unsigned regsel) const;
    void setCore(unsigned regsel, uint32_t value);
    uint32_t fpu(unsigned index) const;
    void setFpu(unsigned index, uint32_t value);

    uint32_t pc() const { return pc_; }
    void setPc(uint32_t pc) { pc_ = pc & ~1u; }

  private:
    bool threadUsesPsp() const;

    bool hasFpu_;
    std::array<uint32_t, 13> r_{};
    uint32_t msp_ = 0;
    uint32_t psp_ = 0;
    uint32_t lr_ = 0;
    uint32_t pc_ = 0;
    uint32_t xpsr_ = 0;
    uint32_t special_ = 0;
    std::array<uint32_t, 32> s_{};
    uint32_t fpscr_ = 0;
};

}  // namespace dravik::sim
