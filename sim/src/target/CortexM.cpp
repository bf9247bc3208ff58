// Construction, time, bus routing and register access of the target model. Run control and
// reset live in RunControl.cpp.

#include "target/CortexM.h"

#include <algorithm>
#include <stdexcept>

#include "target/ArmV7mRegisters.h"

namespace dravik::sim {

namespace {

bool differs(const CoreActivity& a, const CoreActivity& b) {
    return a.running != b.running || a.sleeping != b.sleeping || a.trcena != b.trcena;
}

bool wordAccess(uint32_t address, AccessSize size) {
    return size == AccessSize::Word && address % 4 == 0;
}

// FPU word index of a DCRSR REGSEL, or -1.
int fpuIndexOfRegsel(unsigned regsel) {
    if (regsel == armv7m::regsel::kFpscr) {
        return static_cast<int>(CoreRegisters::kFpscrIndex);
    }
    if (regsel >= armv7m::regsel::kS0 && regsel <= armv7m::regsel::kS31) {
        return static_cast<int>(regsel - armv7m::regsel::kS0);
    }
    return -1;
}

}  // namespace

const TargetConfig& CortexM::validated(const TargetConfig& config) {
    const std::string error = describeConfigError(config);
    if (!error.empty()) {
        throw std::invalid_argument(error);
    }
    return config;
}

CortexM::CortexM(const TargetConfig& config)
    : config_(validated(config)),
      memory_(config_),
      registers_(config_.hasFpu),
      fpb_(config_.fpb),
      system_(config_.cpuid, config_.flash.base),
      failNextRegisterWrite_(config_.scenario.failNextCoreRegisterWrite) {
    // Power came up before the bench's clock started: the reset is over at time 0, its sticky
    // status still unread.
    if (config_.scenario.staysInReset) {
        inReset_ = true;
    } else {
        completeReset();
    }
}

// ---- Time and peripherals

void CortexM::advanceTo(uint64_t nowUs) {
    if (resetTimed_ && resetEndsUs_ <= nowUs) {
        moveTimeTo(resetEndsUs_);
        const CoreActivity before = activity();
        completeReset();
        notifyIfChanged(before);
    }
    moveTimeTo(nowUs);
}

void CortexM::moveTimeTo(uint64_t nowUs) {
    if (nowUs <= nowUs_) {
        return;
    }
    const CoreActivity span = activity();
    nowUs_ = nowUs;
    for (Peripheral* peripheral : peripherals_) {
        peripheral->advance(nowUs_, span);
    }
}

void CortexM::notifyIfChanged(const CoreActivity& before) {
    const CoreActivity now = activity();
    if (differs(now, before)) {
        for (Peripheral* peripheral : peripherals_) {
            peripheral->activityChanged(nowUs_, now);
        }
    }
}

void CortexM::attach(Peripheral& peripheral) {
    if (std::find(peripherals_.begin(), peripherals_.end(), &peripheral) == peripherals_.end()) {
        peripherals_.push_back(&peripheral);
    }
}

Peripheral* CortexM::claimant(uint32_t address) const {
    for (Peripheral* peripheral : peripherals_) {
        if (peripheral->claims(address)) {
            return peripheral;
        }
    }
    return nullptr;
}

CoreActivity CortexM::activity() const {
    CoreActivity activity;
    activity.running = !inReset_ && (exec_ == Exec::Running || exec_ == Exec::Sleeping);
    activity.sleeping = !inReset_ && exec_ == Exec::Sleeping;
    activity.trcena = (demcr_ & armv7m::demcr::kTrcena) != 0;
    return activity;
}

// ---- Bus

BusStatus CortexM::read(uint32_t address, AccessSize size, uint32_t& value, uint64_t nowUs) {
    advanceTo(nowUs);
    return busRead(address, size, value);
}

BusStatus CortexM::write(uint32_t address, AccessSize size, uint32_t value, uint64_t nowUs) {
    advanceTo(nowUs);
    const CoreActivity before = activity();
    const BusStatus status = busWrite(address, size, value);
    notifyIfChanged(before);
    return status;
}

BlockTransfer CortexM::readBlock(uint32_t address, uint8_t* data, uint32_t length, AccessSize unit,
                                 uint64_t nowUs) {
    advanceTo(nowUs);
    const unsigned n = bytesOf(unit);
    BlockTransfer result;
    while (result.bytesDone < length) {
        const uint64_t at = uint64_t{address} + result.bytesDone;
        uint32_t value = 0;
        if (length - result.bytesDone < n || at + n - 1 > UINT32_MAX ||
            busRead(static_cast<uint32_t>(at), unit, value) != BusStatus::Ok) {
            result.status = BusStatus::Fault;
            break;
        }
        for (unsigned i = 0; i < n; ++i) {
            data[result.bytesDone + i] = static_cast<uint8_t>(value >> (8 * i));
        }
        result.bytesDone += n;
    }
    return result;
}

BlockTransfer CortexM::writeBlock(uint32_t address, const uint8_t* data, uint32_t length,
                                  AccessSize unit, uint64_t nowUs) {
    advanceTo(nowUs);
    const CoreActivity before = activity();
    const unsigned n = bytesOf(unit);
    BlockTransfer result;
    while (result.bytesDone < length) {
        const uint64_t at = uint64_t{address} + result.bytesDone;
        if (length - result.bytesDone < n || at + n - 1 > UINT32_MAX) {
            result.status = BusStatus::Fault;
            break;
        }
        uint32_t value = 0;
        for (unsigned i = 0; i < n; ++i) {
            value |= static_cast<uint32_t>(data[result.bytesDone + i]) << (8 * i);
        }
        if (busWrite(static_cast<uint32_t>(at), unit, value) != BusStatus::Ok) {
            result.status = BusStatus::Fault;
            break;
        }
        result.bytesDone += n;
    }
    notifyIfChanged(before);
    return result;
}

bool CortexM::loadMemory(uint32_t address, const uint8_t* data, size_t length) {
    return memory_.load(address, data, length);
}

bool CortexM::peekMemory(uint32_t address, uint8_t* data, size_t length) const {
    return memory_.peek(address, data, length);
}

BusStatus CortexM::busRead(uint32_t address, AccessSize size, uint32_t& value) {
    if (Peripheral* peripheral = claimant(address)) {
        if (!wordAccess(address, size)) {
            return BusStatus::Fault;
        }
        return peripheral->read32(address, value, nowUs_) ? BusStatus::Ok : BusStatus::Fault;
    }
    if (armv7m::isPpbAddress(address)) {
        return wordAccess(address, size) ? readPpb(address, value) : BusStatus::Fault;
    }
    return memory_.read(address, size, value);
}

BusStatus CortexM::busWrite(uint32_t address, AccessSize size, uint32_t value) {
    if (Peripheral* peripheral = claimant(address)) {
        if (!wordAccess(address, size)) {
            return BusStatus::Fault;
        }
        return peripheral->write32(address, value, nowUs_) ? BusStatus::Ok : BusStatus::Fault;
    }
    if (armv7m::isPpbAddress(address)) {
        return wordAccess(address, size) ? writePpb(address, value) : BusStatus::Fault;
    }
    return memory_.write(address, size, value);
}

BusStatus CortexM::readPpb(uint32_t address, uint32_t& value) {
    switch (address) {
        case armv7m::kDhcsr:
            value = readDhcsr();
            return BusStatus::Ok;
        case armv7m::kDcrsr:  // write-only; reads as zero here
            value = 0;
            return BusStatus::Ok;
        case armv7m::kDcrdr:
            value = dcrdr_;
            return BusStatus::Ok;
        case armv7m::kDemcr:
            value = demcr_;
            return BusStatus::Ok;
        case armv7m::kDfsr:
            value = dfsr_;
            return BusStatus::Ok;
        default:
            break;
    }
    if (system_.claims(address)) {
        value = system_.read32(address);
        return BusStatus::Ok;
    }
    if (fpb_.claims(address)) {
        value = fpb_.read32(address);
        return BusStatus::Ok;
    }
    return BusStatus::Fault;
}

BusStatus CortexM::writePpb(uint32_t address, uint32_t value) {
    switch (address) {
        case armv7m::kDhcsr:
            writeDhcsr(value);
            return BusStatus::Ok;
        case armv7m::kDcrsr:
            writeDcrsr(value);
            return BusStatus::Ok;
        case armv7m::kDcrdr:
            dcrdr_ = value;
            return BusStatus::Ok;
        case armv7m::kDemcr:
            demcr_ = value & armv7m::demcr::kWritable;
            return BusStatus::Ok;
        case armv7m::kDfsr:
            dfsr_ &= ~value;
            return BusStatus::Ok;
        default:
            break;
    }
    if (system_.claims(address)) {
        switch (system_.write32(address, value)) {
            case ResetRequest::SystemReset:
                beginReset(ResetKind::SystemReset);
                break;
            case ResetRequest::VectorReset:
                beginReset(ResetKind::VectorReset);
                break;
            case ResetRequest::None:
                break;
        }
        return BusStatus::Ok;
    }
    if (fpb_.claims(address)) {
        fpb_.write32(address, value);
        return BusStatus::Ok;
    }
    return BusStatus::Fault;
}

// ---- Core registers

void CortexM::writeDcrsr(uint32_t value) {
    // Transfers only happen in Debug state; elsewhere the request is dropped and S_REGRDY stays 0.
    if (!halted()) {
        return;
    }
    const unsigned regsel = value & armv7m::dcrsr::kRegSelMask;
    const bool toRegister = (value & armv7m::dcrsr::kRegWnR) != 0;
    if (CoreRegisters::isCoreRegister(regsel)) {
        if (toRegister) {
            registers_.setCore(regsel, dcrdr_);
        } else {
            dcrdr_ = registers_.core(regsel);
        }
        return;
    }
    const int index = fpuIndexOfRegsel(regsel);
    if (index >= 0 && registers_.isFpuIndex(static_cast<unsigned>(index))) {
        if (toRegister) {
            registers_.setFpu(static_cast<unsigned>(index), dcrdr_);
        } else {
            dcrdr_ = registers_.fpu(static_cast<unsigned>(index));
        }
    }
}

RegisterAccess CortexM::readCoreRegister(unsigned regsel, uint32_t& value, uint64_t nowUs) {
    advanceTo(nowUs);
    if (!CoreRegisters::isCoreRegister(regsel)) {
        return RegisterAccess::NoSuchRegister;
    }
    if (!halted()) {
        return RegisterAccess::NotHalted;
    }
    value = registers_.core(regsel);
    return RegisterAccess::Ok;
}

RegisterAccess CortexM::writeCoreRegister(unsigned regsel, uint32_t value, uint64_t nowUs) {
    advanceTo(nowUs);
    if (!CoreRegisters::isCoreRegister(regsel)) {
        return RegisterAccess::NoSuchRegister;
    }
    if (!halted()) {
        return RegisterAccess::NotHalted;
    }
    registers_.setCore(regsel, value);
    if (failNextRegisterWrite_) {
        failNextRegisterWrite_ = false;
        return RegisterAccess::VerifyFailed;
    }
    return RegisterAccess::Ok;
}

RegisterAccess CortexM::readFpuRegister(unsigned index, uint32_t& value, uint64_t nowUs) {
    advanceTo(nowUs);
    if (!registers_.isFpuIndex(index)) {
        return RegisterAccess::NoSuchRegister;
    }
    if (!halted()) {
        return RegisterAccess::NotHalted;
    }
    value = registers_.fpu(index);
    return RegisterAccess::Ok;
}

RegisterAccess CortexM::writeFpuRegister(unsigned index, uint32_t value, uint64_t nowUs) {
    advanceTo(nowUs);
    if (!registers_.isFpuIndex(index)) {
        return RegisterAccess::NoSuchRegister;
    }
    if (!halted()) {
        return RegisterAccess::NotHalted;
    }
    registers_.setFpu(index, value);
    return RegisterAccess::Ok;
}

}  // namespace dravik::sim
