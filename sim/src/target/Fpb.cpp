#include "target/Fpb.h"

#include "target/ArmV7mRegisters.h"

namespace dravik::sim {

namespace {

// Revision 1: REPLACE 31:30, COMP 28:2, ENABLE 0. Revision 2: BPADDR 31:1, BE 0.
constexpr uint32_t kCompWritableRev1 = 0xDFFFFFFD;
constexpr uint32_t kCompWritableRev2 = 0xFFFFFFFF;

}  // namespace

Fpb::Fpb(const FpbConfig& config)
    : config_(config), comparators_(config.codeComparators + config.literalComparators, 0) {}

void Fpb::powerOnReset() {
    enabled_ = false;
    remap_ = 0;
    for (uint32_t& comp : comparators_) {
        comp = 0;
    }
}

bool Fpb::claims(uint32_t address) const {
    return address >= armv7m::kFpCtrl && address < armv7m::fpComp(comparatorCount());
}

uint32_t Fpb::read32(uint32_t address) const {
    if (address == armv7m::kFpCtrl) {
        return fpCtrlResetValue(config_) | (enabled_ ? armv7m::fpctrl::kEnable : 0);
    }
    if (address == armv7m::kFpRemap) {
        return config_.remapSupported ? (armv7m::fpremap::kRmpspt | remap_) : 0;
    }
    return comparators_[(address - armv7m::kFpComp0) / 4];
}

void Fpb::write32(uint32_t address, uint32_t value) {
    if (address == armv7m::kFpCtrl) {
        // ENABLE only moves when the write carries KEY; everything else reads as configured.
        if ((value & armv7m::fpctrl::kKey) != 0) {
            enabled_ = (value & armv7m::fpctrl::kEnable) != 0;
        }
        return;
    }
    if (address == armv7m::kFpRemap) {
        if (config_.remapSupported) {
            remap_ = value & armv7m::fpremap::kRemapMask;
        }
        return;
    }
    const uint32_t writable = config_.revision >= 2 ? kCompWritableRev2 : kCompWritableRev1;
    comparators_[(address - armv7m::kFpComp0) / 4] = value & writable;
}

}  // namespace dravik::sim
