// Run control and reset of the Cortex-M core through DHCSR, DEMCR and AIRCR, plus the probe's own
// system reset and reset line commands. Every wait polls DHCSR against the wall clock.
#include <ctime>

#include "DbgDev.h"
#include "ProbeCommands.h"

using dravik::CommandParams;
using dravik::Exchange;
namespace cmd = dravik::cmd;

namespace {

constexpr unsigned kDhcsr = 0xE000EDF0;
constexpr unsigned kDemcr = 0xE000EDFC;
constexpr unsigned kAircr = 0xE000ED0C;

constexpr unsigned kDbgKey = 0xA05F0000;
constexpr unsigned kDhcsrHalt = kDbgKey | 0x0003;  // C_HALT | C_DEBUGEN
constexpr unsigned kDhcsrRun = kDbgKey | 0x0001;
constexpr unsigned kDhcsrRunMasked = kDbgKey | 0x0009;
constexpr unsigned kDhcsrStep = kDbgKey | 0x0005;
constexpr unsigned kDhcsrStepMasked = kDbgKey | 0x000D;
constexpr unsigned kCMaskints = 0x0008;
constexpr unsigned kCStepAndMaskints = 0x000C;

constexpr unsigned kSRegrdy = 1u << 16;
constexpr unsigned kSHalt = 1u << 17;
constexpr unsigned kSSleep = 1u << 18;
constexpr unsigned kSLockup = 1u << 19;
constexpr unsigned kSRetireSt = 1u << 24;
constexpr unsigned kSResetSt = 1u << 25;
constexpr unsigned kCDebugen = 1u << 0;

constexpr unsigned kVectKey = 0x05FA0000;
constexpr unsigned kAircrSysResetReq = kVectKey | 0x0004;
constexpr unsigned kAircrVectReset = kVectKey | 0x0001;

constexpr unsigned kVcCorereset = 0x00000001;
constexpr unsigned char kXpsrRegister = 16;
constexpr unsigned kXpsrThumb = 0x01000000;

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
    unsigned dhcsr = 0;
    const int result = ReadDebugRegister(kDhcsr, &dhcsr, apIndex);
    if (result != DBGDEV_OK) {
        return result;
    }
    if ((dhcsr & kSResetSt) != 0) {
        *status = DEVICE_RESET;
    } else if ((dhcsr & kSHalt) != 0) {
        *status = DEVICE_HALTED;
    } else if ((dhcsr & kSLockup) != 0) {
        *status = DEVICE_LOCKUP;
    } else if ((dhcsr & kSSleep) != 0) {
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
    int result = WriteDebugRegister(kDemcr, kVcCorereset, apIndex);

    // Two consecutive samples in reset: the probe is holding the reset line.
    const bool heldInReset = hwReset == 1 && WaitForTargetReset(0, apIndex) == DBGDEV_OK &&
                             WaitForTargetReset(0, apIndex) == DBGDEV_OK;
    if (!heldInReset) {
        if (result == DBGDEV_OK) {
            result = WriteDebugRegister(
                kAircr, systemReset == 1 ? kAircrSysResetReq : kAircrVectReset, apIndex);
        }
        if (result == DBGDEV_OK && GetDravikGeneration() == 1) {
            // First-generation probes need a read after the request; its value does not matter.
            unsigned ignored = 0;
            (void)ReadDebugRegister(kAircr, &ignored, apIndex);
        }
        result = WaitForTargetReset(kTimeoutSeconds, apIndex);
    }

    if (GetDravikGeneration() > 1 && hwReset == 1) {
        const int released = TargetHardReset(kReleaseReset);
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
        const int written = WriteRegister(kXpsrRegister, kXpsrThumb, apIndex);
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
    unsigned dhcsr = 0;
    int result = ReadDebugRegister(kDhcsr, &dhcsr, apIndex);
    if (result == DBGDEV_OK) {
        result = WriteDebugRegister(kDhcsr, dhcsr | kDbgKey | kCMaskints, apIndex);
    }
    if (result == DBGDEV_OK) {
        result = WriteDebugRegister(kDhcsr, maskInts == 1 ? kDhcsrStepMasked : kDhcsrStep, apIndex);
    }
    if (result == DBGDEV_OK) {
        result = ReadDebugRegister(kDhcsr, &dhcsr, apIndex);
    }
    if (result == DBGDEV_OK) {
        if ((dhcsr & (kSRetireSt | kSHalt | kSRegrdy | kCDebugen)) == 0) {
            return DBGDEV_PROBE_ERROR;
        }
        int reads = 0;
        while (result == DBGDEV_OK && (dhcsr & kSRetireSt) != 0) {
            if (reads++ == kStepRetireReads) {
                return DBGDEV_STEP_NOT_SETTLED;
            }
            result = ReadDebugRegister(kDhcsr, &dhcsr, apIndex);
        }
    }
    if (result == DBGDEV_OK) {
        result = ReadDebugRegister(kDhcsr, &dhcsr, apIndex);
    }
    if (result == DBGDEV_OK) {
        // C_STEP and C_MASKINTS off, the other bits as read, the key in the upper half.
        const unsigned upper = ((dhcsr & 0xFFFF0000u) & ~kDbgKey) | kDbgKey;
        const unsigned lower = dhcsr & 0x0000FFFFu & ~kCStepAndMaskints;
        result = WriteDebugRegister(kDhcsr, upper | lower, apIndex);
    }
    return result;
}

int DbgDev::TargetHardReset(unsigned char action) {
    if (!IsVoltageNrstAndSwvFwCmdSupport() || (m_probeMode != 1 && m_probeMode != 2)) {
        return DBGDEV_NOT_SUPPORTED;
    }
    if (action != kAssertReset && action != kReleaseReset && action != kPulseReset) {
        LogTrace("Unexpected parameter (%d) in TargetHardReset", action);
        return DBGDEV_BAD_ARGUMENT;
    }
    uint8_t answer[2] = {};
    return Exchange(*this, cmd::TargetHardReset, CommandParams().u8(action), answer);
}

int DbgDev::ResetSystem() {
    uint8_t answer[2] = {};
    return Exchange(*this, cmd::ResetSystem, CommandParams(), answer);
}
