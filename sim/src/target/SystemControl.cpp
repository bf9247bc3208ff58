#include "target/SystemControl.h"

#include <DravikBench/TargetConfig.h>

#include "target/ArmV7mRegisters.h"

namespace dravik::sim {

namespace {

namespace aircr = armv7m::aircr;

constexpr uint32_t kVtorWritable = 0x3FFFFF80;   // TBLOFF 29:7
constexpr uint32_t kScrWritable = 0x00000016;    // SLEEPONEXIT, SLEEPDEEP, SEVONPEND
constexpr uint32_t kCcrWritable = 0x0000031B;    // trap and stack alignment controls
constexpr uint32_t kHfsrWritable = 0xC0000002;   // DEBUGEVT, FORCED, VECTTBL (write 1 to clear)
constexpr uint32_t kCpacrWritable = 0x00F00000;  // CP10, CP11

}  // namespace

SystemControl::SystemControl(uint32_t cpuid, uint32_t vtorReset)
    : cpuid_(cpuid), vtorReset_(vtorReset & kVtorWritable) {
    reset();
}

void SystemControl::reset() {
    vtor_ = vtorReset_;
    prigroup_ = 0;
    scr_ = 0;
    ccr_ = silicon::kCcrReset;
    cfsr_ = 0;
    hfsr_ = 0;
    cpacr_ = 0;
}

bool SystemControl::claims(uint32_t address) const {
    switch (address) {
        case armv7m::kCpuid:
        case armv7m::kVtor:
        case armv7m::kAircr:
        case armv7m::kScr:
        case armv7m::kCcr:
        case armv7m::kCfsr:
        case armv7m::kHfsr:
        case armv7m::kCpacr:
            return true;
        default:
            return false;
    }
}

uint32_t SystemControl::read32(uint32_t address) const {
    switch (address) {
        case armv7m::kCpuid:
            return cpuid_;
        case armv7m::kVtor:
            return vtor_;
        case armv7m::kAircr:
            return aircr::kVectKeyStat | (prigroup_ << aircr::kPrigroupShift);
        case armv7m::kScr:
            return scr_;
        case armv7m::kCcr:
            return ccr_;
        case armv7m::kCfsr:
            return cfsr_;
        case armv7m::kHfsr:
            return hfsr_;
        case armv7m::kCpacr:
            return cpacr_;
        default:
            return 0;
    }
}

ResetRequest SystemControl::write32(uint32_t address, uint32_t value) {
    switch (address) {
        case armv7m::kVtor:
            vtor_ = value & kVtorWritable;
            break;
        case armv7m::kAircr:
            if ((value & aircr::kKeyMask) != aircr::kVectKey) {
                break;
            }
            prigroup_ = (value & aircr::kPrigroupMask) >> aircr::kPrigroupShift;
            if ((value & aircr::kSysResetReq) != 0) {
                return ResetRequest::SystemReset;
            }
            if ((value & aircr::kVectReset) != 0) {
                return ResetRequest::VectorReset;
            }
            break;
        case armv7m::kScr:
            scr_ = value & kScrWritable;
            break;
        case armv7m::kCcr:
            ccr_ = value & kCcrWritable;
            break;
        case armv7m::kCfsr:
            cfsr_ &= ~value;
            break;
        case armv7m::kHfsr:
            hfsr_ &= ~(value & kHfsrWritable);
            break;
        case armv7m::kCpacr:
            cpacr_ = value & kCpacrWritable;
            break;
        default:
            break;
    }
    return ResetRequest::None;
}

}  // namespace dravik::sim
