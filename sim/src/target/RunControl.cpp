// Halting debug and reset of the target model: DHCSR, vector catch, stepping, the reset line and
// the reset sequence, with the scenario switches that make a target misbehave.

#include <limits>

#include "target/ArmV7mRegisters.h"
#include "target/CortexM.h"

namespace dravik::sim {

namespace dhcsr = armv7m::dhcsr;

RunState CortexM::runState() const {
    if (inReset_) {
        return RunState::InReset;
    }
    switch (exec_) {
        case Exec::Running:
            return RunState::Running;
        case Exec::Sleeping:
            return RunState::Sleeping;
        case Exec::Halted:
            return RunState::Halted;
        case Exec::LockedUp:
            return RunState::LockedUp;
    }
    return RunState::Running;
}

uint32_t CortexM::peekDhcsr() const {
    uint32_t value = 0;
    value |= cDebugen_ ? dhcsr::kCDebugen : 0;
    value |= cHalt_ ? dhcsr::kCHalt : 0;
    value |= cStep_ ? dhcsr::kCStep : 0;
    value |= cMaskints_ ? dhcsr::kCMaskints : 0;
    value |= cSnapstall_ ? dhcsr::kCSnapstall : 0;
    if (halted()) {
        // Register transfers complete at once, so the handshake always reads ready in Debug state.
        value |= dhcsr::kSRegrdy | dhcsr::kSHalt;
    }
    if (!inReset_ && exec_ == Exec::Sleeping) {
        value |= dhcsr::kSSleep;
    }
    if (!inReset_ && exec_ == Exec::LockedUp) {
        value |= dhcsr::kSLockup;
    }
    // A running core retires instructions between any two reads.
    if (retireSticky_ || (!inReset_ && exec_ == Exec::Running)) {
        value |= dhcsr::kSRetireSt;
    }
    if (resetSticky_ || inReset_) {
        value |= dhcsr::kSResetSt;
    }
    return value;
}

uint32_t CortexM::readDhcsr() {
    const uint32_t value = peekDhcsr();
    retireSticky_ = false;
    // While the core is in reset the reset status is asserted afresh, so the read cannot clear it.
    if (!inReset_) {
        resetSticky_ = false;
    }
    return value;
}

void CortexM::writeDhcsr(uint32_t value) {
    // As the core does: a write whose upper half-word is not exactly the key changes nothing.
    if ((value & dhcsr::kKeyMask) != dhcsr::kDbgKey) {
        return;
    }
    if ((value & dhcsr::kCDebugen) == 0) {
        // Halting debug off: the other control bits have no meaning and a halted core resumes.
        cDebugen_ = cHalt_ = cStep_ = cMaskints_ = cSnapstall_ = false;
        if (halted()) {
            resume();
        }
        return;
    }
    const bool wasHalted = halted();
    const bool halt = (value & dhcsr::kCHalt) != 0;
    // C_MASKINTS may only change while halted, in a write that keeps C_HALT set.
    if (wasHalted && halt) {
        cMaskints_ = (value & dhcsr::kCMaskints) != 0;
    }
    cDebugen_ = true;
    cHalt_ = halt;
    cStep_ = (value & dhcsr::kCStep) != 0;
    cSnapstall_ = (value & dhcsr::kCSnapstall) != 0;
    if (halt) {
        requestHalt();
    } else if (wasHalted) {
        if (cStep_) {
            stepInstruction();
        } else {
            resume();
        }
    }
}

// A halt request while in reset stays pending in C_HALT and takes effect when the reset ends.
void CortexM::requestHalt() {
    if (inReset_ || config_.scenario.neverHalts) {
        return;
    }
    switch (exec_) {
        case Exec::Running:
            retireSticky_ = true;  // it retired instructions up to the halt
            enterDebugState(armv7m::dfsr::kHalted);
            break;
        case Exec::Sleeping:
            enterDebugState(armv7m::dfsr::kHalted);
            break;
        case Exec::LockedUp:
            if (lockupHaltRecovers_) {
                enterDebugState(armv7m::dfsr::kHalted);
            }
            break;
        case Exec::Halted:
            break;
    }
}

// Entering Debug state sets C_HALT, so a debugger's read-modify-write keeps the core halted.
void CortexM::enterDebugState(uint32_t dfsrReason) {
    exec_ = Exec::Halted;
    cHalt_ = true;
    dfsr_ |= dfsrReason;
}

void CortexM::stepInstruction() {
    lastStepMasked_ = cMaskints_;
    registers_.setPc(registers_.pc() + 2);
    retireSticky_ = true;
    enterDebugState(armv7m::dfsr::kHalted);
}

void CortexM::resume() {
    if (config_.scenario.idlesInWfi) {
        exec_ = Exec::Sleeping;
    } else {
        exec_ = Exec::Running;
        retireSticky_ = true;
    }
}

void CortexM::enterLockup(bool haltRecovers) {
    exec_ = Exec::LockedUp;
    lockupHaltRecovers_ = haltRecovers;
}

void CortexM::setResetLine(bool asserted, uint64_t nowUs) {
    advanceTo(nowUs);
    const CoreActivity before = activity();
    if (asserted && !resetLineAsserted_) {
        resetLineAsserted_ = true;
        beginReset(ResetKind::ResetLine);
    } else if (!asserted && resetLineAsserted_) {
        resetLineAsserted_ = false;
        if (!config_.scenario.staysInReset) {
            startResetTimer();
        }
    }
    notifyIfChanged(before);
}

void CortexM::powerOnReset(uint64_t nowUs) {
    advanceTo(nowUs);
    const CoreActivity before = activity();
    cDebugen_ = cHalt_ = cStep_ = cMaskints_ = cSnapstall_ = false;
    demcr_ = 0;
    dfsr_ = 0;
    dcrdr_ = 0;
    fpb_.powerOnReset();
    for (Peripheral* peripheral : peripherals_) {
        peripheral->powerOnReset(nowUs_);
    }
    beginReset(ResetKind::PowerOn);
    notifyIfChanged(before);
}

// Every reset kind resets the core and the system control block; the debug logic survives all
// but power-on. Memory keeps its content.
void CortexM::beginReset(ResetKind kind) {
    lastReset_ = kind;
    ++resetCount_;
    inReset_ = true;
    exec_ = Exec::Running;
    resetSticky_ = true;
    retireSticky_ = false;
    if (resetLineAsserted_ || config_.scenario.staysInReset) {
        resetTimed_ = false;  // held until the line is released, or for ever
        return;
    }
    startResetTimer();
}

void CortexM::startResetTimer() {
    const uint64_t duration = config_.resetDurationUs;
    if (duration == 0) {
        completeReset();
        return;
    }
    resetTimed_ = true;
    const uint64_t latest = std::numeric_limits<uint64_t>::max();
    resetEndsUs_ = duration > latest - nowUs_ ? latest : nowUs_ + duration;
}

void CortexM::completeReset() {
    inReset_ = false;
    resetTimed_ = false;
    system_.reset();
    for (Peripheral* peripheral : peripherals_) {
        peripheral->coreResetEnded(nowUs_);
    }

    // The boot vector table sits at the flash base (the configuration guarantees its 8 bytes).
    uint32_t sp = 0;
    uint32_t pc = 0;
    memory_.peekWord(config_.flash.base, sp);
    memory_.peekWord(config_.flash.base + 4, pc);
    registers_.reset(sp, pc, (pc & 1u) << 24);

    const TargetScenario& scenario = config_.scenario;
    if (scenario.lockupAfterReset != LockupAfterReset::None) {
        enterLockup(scenario.lockupAfterReset == LockupAfterReset::HaltRecovers);
        return;
    }
    const bool vectorCatch = (demcr_ & armv7m::demcr::kVcCorereset) != 0;
    if (cDebugen_ && !scenario.neverHalts && (vectorCatch || cHalt_)) {
        if (scenario.sleepsOnVectorCatch) {
            exec_ = Exec::Sleeping;
            return;
        }
        enterDebugState(vectorCatch ? armv7m::dfsr::kVcatch : armv7m::dfsr::kHalted);
        return;
    }
    resume();
}

}  // namespace dravik::sim
