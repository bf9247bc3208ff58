#include "target/Dwt.h"

#include <algorithm>

#include "target/DwtRegisters.h"

namespace dravik::sim {

namespace {

constexpr uint32_t kBlockOffsetMask = 0xFFF;
constexpr uint32_t kIdRegistersOffset = 0xFD0;

constexpr uint32_t kPostcntEnables = dwt::ctrl::kPcsamplena | dwt::ctrl::kCycevtena;

uint32_t postcntTapBit(uint32_t ctrl) {
    return (ctrl & dwt::ctrl::kCyctap) != 0 ? 10 : 6;
}

uint32_t writableCtrlOf(const DwtConfig& config) {
    uint32_t writable = dwt::ctrl::kWritable;
    if (!config.cycleCounter) {
        writable &= ~dwt::ctrl::kCycleCounterBits;
    }
    if (!config.profilingCounters) {
        writable &= ~dwt::ctrl::kProfilingBits;
    }
    if (!config.tracePackets) {
        writable &= ~dwt::ctrl::kTracePacketBits;
    }
    return writable;
}

}  // namespace

Dwt::Dwt(const DwtConfig& config) : config_(config), writableCtrl_(writableCtrlOf(config)) {
    config_.comparators = std::min(config_.comparators, dwt::kMaxComparators);
}

void Dwt::powerOnReset() {
    ctrl_ = 0;
    cyccnt_ = 0;
    profilingCounters_ = {};
    comparators_ = {};
    syncTapToggles_ = 0;
    postcnt_ = 0;
    pcSamplesDue_ = 0;
}

bool Dwt::claims(uint32_t address) {
    return address >= dwt::kBase && address <= dwt::kLast;
}

uint32_t Dwt::ctrl() const {
    return (config_.comparators << dwt::ctrl::kNumcompShift) |
           (config_.tracePackets ? 0 : dwt::ctrl::kNotrcpkt) |
           (config_.externalTriggers ? 0 : dwt::ctrl::kNoexttrig) |
           (config_.cycleCounter ? 0 : dwt::ctrl::kNocyccnt) |
           (config_.profilingCounters ? 0 : dwt::ctrl::kNoprfcnt) | ctrl_;
}

bool Dwt::counts(const CoreActivity& activity) const {
    return (ctrl_ & dwt::ctrl::kCyccntena) && activity.trcena && activity.running &&
           (!activity.sleeping || config_.countsInSleep);
}

void Dwt::advance(uint64_t cycles, const CoreActivity& activity) {
    if (cycles == 0 || !counts(activity)) {
        return;
    }
    const uint64_t from = cyccnt_;
    if (const unsigned tap = dwt::ctrl::syncTapBit(ctrl_)) {
        syncTapToggles_ += ((from + cycles) >> tap) - (from >> tap);
    }
    if (ctrl_ & kPostcntEnables) {
        const unsigned tap = postcntTapBit(ctrl_);
        countPostcntTaps(((from + cycles) >> tap) - (from >> tap));
    }
    cyccnt_ = static_cast<uint32_t>(from + cycles);
}

void Dwt::countPostcntTaps(uint64_t taps) {
    if (taps <= postcnt_) {
        postcnt_ -= static_cast<uint32_t>(taps);
        return;
    }
    // The tap that finds 0 reloads; so does every (POSTPRESET + 1)th one after it.
    const uint64_t period = postPreset() + 1;
    const uint64_t afterFirst = taps - postcnt_ - 1;
    if (ctrl_ & dwt::ctrl::kPcsamplena) {
        pcSamplesDue_ += 1 + afterFirst / period;
    }
    postcnt_ = static_cast<uint32_t>(postPreset() - afterFirst % period);
}

uint32_t Dwt::postPreset() const {
    return (ctrl_ & dwt::ctrl::kPostpresetMask) >> dwt::ctrl::kPostpresetShift;
}

uint64_t Dwt::cyclesToPcSample() const {
    if ((ctrl_ & dwt::ctrl::kPcsamplena) == 0) {
        return 0;
    }
    const uint64_t tapPeriod = uint64_t{1} << postcntTapBit(ctrl_);
    return tapPeriod - (cyccnt_ & (tapPeriod - 1)) + postcnt_ * tapPeriod;
}

uint64_t Dwt::cyclesToSyncTap() const {
    const unsigned tap = dwt::ctrl::syncTapBit(ctrl_);
    if (tap == 0) {
        return 0;
    }
    const uint64_t period = uint64_t{1} << tap;
    return period - (cyccnt_ & (period - 1));
}

int Dwt::profilingCounterAt(uint32_t address) {
    if (address < dwt::kCpicnt || address > dwt::kFoldcnt) {
        return -1;
    }
    return static_cast<int>((address - dwt::kCpicnt) / 4);
}

int Dwt::comparatorAt(uint32_t address, uint32_t& offset) const {
    if (address < dwt::kComp0) {
        return -1;
    }
    const uint32_t index = (address - dwt::kComp0) / dwt::kComparatorStride;
    offset = (address - dwt::kComp0) % dwt::kComparatorStride;
    if (index >= config_.comparators || offset > 8) {
        return -1;
    }
    return static_cast<int>(index);
}

uint32_t Dwt::read32(uint32_t address, const CoreActivity& activity, uint32_t pc) const {
    if (!activity.trcena) {
        return 0;
    }
    switch (address) {
        case dwt::kCtrl:
            return ctrl();
        case dwt::kCyccnt:
            return cyccnt_;
        case dwt::kPcsr:
            return activity.running ? pc : dwt::kPcsrNotRunning;
        default:
            break;
    }
    if (const int counter = profilingCounterAt(address); counter >= 0) {
        return profilingCounters_[static_cast<size_t>(counter)];
    }
    const uint32_t offset = address & kBlockOffsetMask;
    if (offset >= kIdRegistersOffset) {
        return silicon::kDwtIdCortexM4[(offset - kIdRegistersOffset) / 4];
    }
    uint32_t field = 0;
    if (const int n = comparatorAt(address, field); n >= 0) {
        const Comparator& c = comparators_[static_cast<size_t>(n)];
        return field == 0 ? c.comp : field == 4 ? c.mask : c.function;
    }
    return 0;
}

void Dwt::write32(uint32_t address, uint32_t value, const CoreActivity& activity) {
    if (!activity.trcena) {
        return;
    }
    if (address == dwt::kCtrl) {
        if ((ctrl_ & kPostcntEnables) == 0) {
            postcnt_ =
                (value & writableCtrl_ & dwt::ctrl::kPostinitMask) >> dwt::ctrl::kPostinitShift;
        }
        ctrl_ = value & writableCtrl_;
        return;
    }
    if (address == dwt::kCyccnt) {
        if (config_.cycleCounter) {
            cyccnt_ = value;
        }
        return;
    }
    if (const int counter = profilingCounterAt(address); counter >= 0) {
        if (config_.profilingCounters) {
            profilingCounters_[static_cast<size_t>(counter)] = value & dwt::kProfilingCounterMask;
        }
        return;
    }
    uint32_t field = 0;
    if (const int n = comparatorAt(address, field); n >= 0) {
        Comparator& c = comparators_[static_cast<size_t>(n)];
        if (field == 0) {
            c.comp = value;
        } else if (field == 4) {
            c.mask = value & dwt::kMaskWritable;
        } else {
            c.function = value & dwt::kFunctionWritable;
        }
    }
}

}  // namespace dravik::sim
