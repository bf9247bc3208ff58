#include "target/CoreRegisters.h"

#include <DravikBench/TargetConfig.h>

#include "target/ArmV7mRegisters.h"

namespace dravik::sim {

namespace {

namespace regsel = armv7m::regsel;

constexpr uint32_t kSpMask = 0xFFFFFFFC;
// N Z C V Q, ICI/IT, T, GE[3:0], ICI/IT, exception number.
constexpr uint32_t kXpsrMask = 0xFF0FFDFF;
constexpr uint32_t kIpsrMask = 0x000001FF;
// CONTROL nPRIV/SPSEL(/FPCA), FAULTMASK, BASEPRI with 4 priority bits, PRIMASK.
constexpr uint32_t kSpecialMaskNoFpu = 0x0301F001;
constexpr uint32_t kSpecialMaskFpu = 0x0701F001;
constexpr uint32_t kControlSpsel = 1u << 25;  // CONTROL bit 1 within the packed word
// N Z C V, AHP, DN, FZ, RMode, cumulative exception flags.
constexpr uint32_t kFpscrMask = 0xF7C0009F;

}  // namespace

CoreRegisters::CoreRegisters(bool hasFpu) : hasFpu_(hasFpu) {
    reset(0, 0, silicon::kXpsrAfterReset);
}

void CoreRegisters::reset(uint32_t msp, uint32_t pc, uint32_t xpsr) {
    r_.fill(0);
    msp_ = msp & kSpMask;
    psp_ = 0;
    lr_ = silicon::kLrAfterReset;
    setPc(pc);
    xpsr_ = xpsr & kXpsrMask;
    special_ = 0;
    s_.fill(0);
    fpscr_ = 0;
}

bool CoreRegisters::isCoreRegister(unsigned regsel) {
    return regsel < kCoreRegisterCount && regsel != regsel::kUnassigned;
}

// Thread mode with CONTROL.SPSEL set runs on the process stack; handler mode always on MSP.
bool CoreRegisters::threadUsesPsp() const {
    return (xpsr_ & kIpsrMask) == 0 && (special_ & kControlSpsel) != 0;
}

uint32_t CoreRegisters::core(unsigned regsel) const {
    if (regsel <= regsel::kR12) {
        return r_[regsel];
    }
    switch (regsel) {
        case regsel::kSp:
            return threadUsesPsp() ? psp_ : msp_;
        case regsel::kLr:
            return lr_;
        case regsel::kDebugReturnAddress:
            return pc_;
        case regsel::kXpsr:
            return xpsr_;
        case regsel::kMsp:
            return msp_;
        case regsel::kPsp:
            return psp_;
        case regsel::kSpecial:
            return special_;
        default:
            return 0;
    }
}

void CoreRegisters::setCore(unsigned regsel, uint32_t value) {
    if (regsel <= regsel::kR12) {
        r_[regsel] = value;
        return;
    }
    switch (regsel) {
        case regsel::kSp:
            (threadUsesPsp() ? psp_ : msp_) = value & kSpMask;
            break;
        case regsel::kLr:
            lr_ = value;
            break;
        case regsel::kDebugReturnAddress:
            setPc(value);
            break;
        case regsel::kXpsr:
            xpsr_ = value & kXpsrMask;
            break;
        case regsel::kMsp:
            msp_ = value & kSpMask;
            break;
        case regsel::kPsp:
            psp_ = value & kSpMask;
            break;
        case regsel::kSpecial:
            special_ = value & (hasFpu_ ? kSpecialMaskFpu : kSpecialMaskNoFpu);
            break;
        default:
            break;
    }
}

uint32_t CoreRegisters::fpu(unsigned index) const {
    return index == kFpscrIndex ? fpscr_ : s_[index];
}

void CoreRegisters::setFpu(unsigned index, uint32_t value) {
    if (index == kFpscrIndex) {
        fpscr_ = value & kFpscrMask;
    } else {
        s_[index] = value;
    }
}

}  // namespace dravik::sim
