// Run control and reset of the Cortex-M core through DHCSR, DEMCR and AIRCR, plus the probe's own
// system reset and reset line commands. Every wait polls DHCSR against the wall clock.
#include <ctime>

#include "DbgDev.h"
#include "ProbeCommands.h"
#include "WireConstants.h"

using dravik::CommandParams;
using dravik::Exchange;
namespace cmd = dravik::cmd;
namespace cortexm = dravik::cortexm;
namespace dhcsr = dravik::cortexm::dhcsr;

namespace {

constexpr unsigned kDhcsr = cortexm::kDhcsr;
constexpr unsigned kDemcr = cortexm::kDemcr;
constexpr unsigned kAircr = cortexm::kAircr;

constexpr unsigned kDbgKey = cortexm::kDbgKey;
constexpr unsigned kDhcsrHalt = kDbgKey | dhcsr::kCHalt | dhcsr::kCDebugen;
constexpr unsigned kDhcsrRun = kDbgKey | dhcsr::kCDebugen;
constexpr unsigned kDhcsrRunMasked = kDbgKey | dhcsr::kCMaskints | dhcsr::kCDebugen;
constexpr unsigned kDhcsrStep = kDbgKey | dhcsr::kCStep | dhcsr::kCDebugen;
constexpr unsigned kDhcsrStepMasked =
    kDbgKey | dhcsr::kCMaskints | dhcsr::kCStep | dhcsr::kCDebugen;
// What a step must see in DHCSR to count as taken.
constexpr unsigned kStepSeen =
    dhcsr::kSRetireSt | dhcsr::kSHalt | dhcsr::kSRegrdy | dhcsr::kCDebugen;

constexpr unsigned kAircrSysResetReq = cortexm::kVectKey | cortexm::aircr::kSysResetReq;
constexpr unsigned kAircrVectReset = cortexm::kVectKey | cortexm::aircr::kVectReset;

constexpr double kTimeoutSeconds = 2.0;

// StepCore re-reads DHCSR while S_RETIRE_ST stays set. A halted core clears it with the first read
// after the step, so this bound is only reached by a core that keeps executing: it gives up with
// DBGDEV_STEP_NOT_SETTLED rather than poll for ever.
constexpr int kStepRetireReads = 100;

enum HardResetAction : unsigned char { kAssertReset = 0, kReleaseReset = 1, kPulseReset = 2 };

bool WithinTimeout(time_t start) {
    return difftime(time(nullptr), start) < kTimeoutSeconds;
}

}  // namespace

int DbgDev::GetStatus(Device_StatusT* status, int apIndex) {
    if (status == nullptr) {
        return DBGDEV_BAD_ARGUMENT;
    }
    *status = DEVICE_RUNNING;
    unsigned value = 0;
    const int result = ReadDebugRegister(kDhcsr, &value, apIndex);
    if (result != DBGDEV_OK) {
        return result;
    }
    if ((value & dhcsr::kSResetSt) != 0) {
        *status = DEVICE_RESET;
    } else if ((value & dhcsr::kSHalt) != 0) {
        *status = DEVICE_HALTED;
    } else if ((value & dhcsr::kSLockup) != 0) {
        *status = DEVICE_LOCKUP;
    } else if ((value & dhcsr::kSSleep) != 0) {
        *status = DEVICE_SLEEP;
    }
    return DBGDEV_OK;
}

int DbgDev::ForceDebug(int waitForHalt, int apIndex) {
    int result = DBGDEV_OK;
    Device_StatusT state = DEVICE_RUNNING;
    const time_t start = time(nullptr);
    bool again;
    do {
        if (result == DBGDEV_OK) {
            result = WriteDebugRegister(kDhcsr, kDhcsrHalt, apIndex);
        }
        if (result == DBGDEV_OK) {
            result = GetStatus(&state, apIndex);
        }
        again = waitForHalt == 1 && state != DEVICE_HALTED && result == DBGDEV_OK &&
                WithinTimeout(start);
    } while (again);

    if (state == DEVICE_HALTED || result != DBGDEV_OK) {
        return result;
    }
    if (state == DEVICE_RESET) {
        // When this second look fails, the last state seen was reset: report it as held in reset,
        // which lets the connection go on to Reset, and that releases a reset line the probe holds.
        if (GetStatus(&state, apIndex) != DBGDEV_OK || state == DEVICE_RESET) {
            LogTrace("Target is held under reset");
            return DBGDEV_HELD_IN_RESET;
        }
        if (state == DEVICE_HALTED) {
            return DBGDEV_OK;
        }
        LogTrace("Target not HALTED after halt sequence + reset (status=%d)", state);
        return DBGDEV_NOT_HALTED;
    }
    LogTrace("Target is neither HALTED nor under RESET after init sequence (status=%d)", state);
    return DBGDEV_NOT_HALTED;
}

int DbgDev::WaitForTargetReset(double seconds, int apIndex) {
    const time_t start = time(nullptr);
    int result = DBGDEV_OK;
    Device_StatusT state = DEVICE_RUNNING;
    do {
        result = GetStatus(&state, apIndex);
        if (result != DBGDEV_OK || state == DEVICE_RESET) {
            break;
        }
    } while (seconds > difftime(time(nullptr), start));

    if (result != DBGDEV_OK) {
        return result;
    }
    if (state == DEVICE_RESET) {
        return DBGDEV_OK;
    }
    LogTrace("System reset has not raised up after %d seconds", static_cast<int>(seconds));
    return DBGDEV_RESET_NOT_SEEN;
}

int DbgDev::Reset(int hwReset, int apIndex, int systemReset) {
    // The core halts on the reset vector.
    int result = WriteDebugRegister(kDemcr, cortexm::demcr::kVcCorereset, apIndex);

    // Two consecutive samples in reset: the probe is holding the reset line.
    const bool heldInReset = hwReset == 1 && WaitForTargetReset(0, apIndex) == DBGDEV_OK &&
                             WaitForTargetReset(0, apIndex) == DBGDEV_OK;
    if (!heldInReset && result == DBGDEV_OK) {
        result = WriteDebugRegister(kAircr, systemReset == 1 ? kAircrSysResetReq : kAircrVectReset,
                                    apIndex);
        if (result == DBGDEV_OK && GetDravikGeneration() == 1) {
            // First-generation probes need a read after the request; its value does not matter.
            unsigned ignored = 0;
            (void)ReadDebugRegister(kAircr, &ignored, apIndex);
        }
        // Only a request that went out can be waited for. Without one, a reset status still
        // standing from an earlier reset would pass for this one, and a fault would become a
        // time-out: the first error is kept instead.
        if (result == DBGDEV_OK) {
            result = WaitForTargetReset(kTimeoutSeconds, apIndex);
        }
    }

    if (GetDravikGeneration() > 1 && hwReset == 1) {
        const int released = TargetHardReset(kReleaseReset);  // whatever the result so far
        if (result == DBGDEV_OK) {
            result = released;
        }
    }

    Device_StatusT state = DEVICE_RUNNING;
    const time_t start = time(nullptr);
    bool again;
    do {
        if (result == DBGDEV_OK) {
            result = GetStatus(&state, apIndex);
        }
        again = result == DBGDEV_OK && state == DEVICE_RESET && WithinTimeout(start);
    } while (again);

    if (result == DBGDEV_OK) {
        switch (state) {
            case DEVICE_RESET:
                LogTrace("Target reset still active after %d seconds",
                         static_cast<int>(kTimeoutSeconds));
                result = DBGDEV_HELD_IN_RESET;
                break;
            case DEVICE_HALTED:
                break;
            case DEVICE_LOCKUP:
                LogTrace("Device is lockup; workaround: set Halt bit again");
                result = WriteDebugRegister(kDhcsr, kDhcsrHalt, apIndex);
                if (result == DBGDEV_OK) {
                    result = GetStatus(&state, apIndex);
                }
                if (result == DBGDEV_OK) {
                    if (state == DEVICE_HALTED) {
                        LogTrace("Workaround OK: device is now Halted");
                    } else {
                        LogTrace("Workaround KO: device still not Halted");
                        result = DBGDEV_NOT_HALTED;
                    }
                }
                break;
            case DEVICE_RUNNING:
            case DEVICE_SLEEP:
                LogTrace("Target was reset but core is not halted");
                result = DBGDEV_NOT_HALTED;
                break;
        }
    }

    if (result == DBGDEV_OK || result == DBGDEV_HELD_IN_RESET) {
        const int written = WriteRegister(cortexm::regsel::kXpsr, cortexm::kXpsrThumb, apIndex);
        if (result == DBGDEV_OK) {
            result = written;
        }
    }
    if (result != DBGDEV_OK && result != DBGDEV_HELD_IN_RESET) {
        return result;  // the vector catch stays on
    }
    const int cleared = WriteDebugRegister(kDemcr, 0, apIndex);
    if (result == DBGDEV_OK) {
        result = cleared;
    }
    return result;
}

int DbgDev::RunCore(int maskInts, int apIndex) {
    return WriteDebugRegister(kDhcsr, maskInts == 1 ? kDhcsrRunMasked : kDhcsrRun, apIndex);
}

int DbgDev::StepCore(int maskInts, int apIndex) {
    // Bits 31:16 of every DHCSR write are exactly the key; the status bits read there (S_RETIRE_ST,
    // S_RESET_ST, ...) never reach it, or the core would ignore the write.
    const auto control = [](unsigned read) { return read & cortexm::kDhcsrControlBits; };
    unsigned value = 0;
    int result = ReadDebugRegister(kDhcsr, &value, apIndex);
    if (result == DBGDEV_OK) {
        result = WriteDebugRegister(kDhcsr, kDbgKey | control(value) | dhcsr::kCMaskints, apIndex);
    }
    if (result == DBGDEV_OK) {
        result = WriteDebugRegister(kDhcsr, maskInts == 1 ? kDhcsrStepMasked : kDhcsrStep, apIndex);
    }
    if (result == DBGDEV_OK) {
        result = ReadDebugRegister(kDhcsr, &value, apIndex);
    }
    if (result == DBGDEV_OK) {
        if ((value & kStepSeen) == 0) {
            return DBGDEV_PROBE_ERROR;
        }
        int reads = 0;
        while (result == DBGDEV_OK && (value & dhcsr::kSRetireSt) != 0) {
            if (reads++ == kStepRetireReads) {
                return DBGDEV_STEP_NOT_SETTLED;
            }
            result = ReadDebugRegister(kDhcsr, &value, apIndex);
        }
    }
    if (result == DBGDEV_OK) {
        result = ReadDebugRegister(kDhcsr, &value, apIndex);
    }
    if (result == DBGDEV_OK) {
        // C_STEP and C_MASKINTS off, the other control bits as read.
        const unsigned kept = control(value) & ~(dhcsr::kCStep | dhcsr::kCMaskints);
        result = WriteDebugRegister(kDhcsr, kDbgKey | kept, apIndex);
    }
    return result;
}

int DbgDev::TargetHardReset(unsigned char action) {
    if (!IsVoltageNrstAndSwvFwCmdSupport() || !dravik::mode::TakesInterfaceCommands(m_probeMode)) {
        return DBGDEV_NOT_SUPPORTED;
    }
    if (action != kAssertReset && action != kReleaseReset && action != kPulseReset) {
        LogTrace("Unexpected parameter (%d) in TargetHardReset", action);
        return DBGDEV_BAD_ARGUMENT;
    }
    uint8_t answer[2] = {};
    return Exchange<cmd::TargetHardReset>(*this, CommandParams().u8(action), answer);
}

int DbgDev::ResetSystem() {
    uint8_t answer[2] = {};
    return Exchange<cmd::ResetSystem>(*this, CommandParams(), answer);
}
