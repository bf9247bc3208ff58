// Target connection: bringing an opened probe from whatever mode it is in to a debug connection
// with the target, and back; one-call open and close of probe and target; FPB identification.
#include "DbgDev.h"
#include "WireConstants.h"

namespace cortexm = dravik::cortexm;
namespace mode = dravik::mode;

namespace {
constexpr unsigned kHaltDebugEnabled =
    cortexm::kDbgKey | cortexm::dhcsr::kCHalt | cortexm::dhcsr::kCDebugen;
constexpr unsigned kHaltingDebugOff = cortexm::kDbgKey;
constexpr uint16_t kMaxCodeComparators = DbgDev::kFlashPatchSlots;
constexpr int kProtocolSwd = 1;
constexpr int kProtocolJtag = 0;
}  // namespace

int DbgDev::OpenTarget(int protocol, int connectUnderReset, int hotPlug, int apIndex,
                       int systemReset) {
    int result = Get_CurrentMode();
    if (result != DBGDEV_OK) {
        m_targetOpen = false;
        return result;
    }
    switch (m_probeMode) {
        case mode::kIdle:
            m_targetOpen = false;
            break;
        case mode::kDebug:
            break;
        case mode::kMonowire:
            m_targetOpen = false;
            result = Monowire_Exit();
            if (result != DBGDEV_OK) {
                return result;
            }
            m_probeMode = mode::kIdle;
            break;
        default:
            m_targetOpen = false;
            result = DFU_Exit();
            if (result != DBGDEV_OK) {
                return result;
            }
            m_probeMode = mode::kIdle;
            break;
    }
    const bool swd = protocol == kProtocolSwd;
    const uint32_t& clockKHz = swd ? m_swdFreqKHz : m_jtagFreqKHz;
    const unsigned requestedKHz = clockKHz;
    result = SetComFreq(swd ? 0 : 1, requestedKHz);
    if (result == DBGDEV_FREQUENCY_DIFFERS) {
        LogTrace("Requested %s frequency (%d KHz) has been modified", swd ? "SWD" : "JTAG",
                 static_cast<int>(clockKHz));
        result = DBGDEV_OK;
    } else if (result != DBGDEV_OK) {
        // The connection goes on at whatever clock the interface runs; this line says why.
        LogTrace("Error (%d) while setting the %s frequency to %d KHz", result,
                 swd ? "SWD" : "JTAG", static_cast<int>(requestedKHz));
    }
    if (result == DBGDEV_OK) {
        float volts = 0.0f;
        const int r = GetTargetVoltage(&volts);
        if (r == DBGDEV_OK) {
            LogTrace("Target voltage detected: %f", static_cast<double>(volts));
        } else if (r != DBGDEV_NOT_SUPPORTED) {
            result = r;
        }
    }
    bool resetHeld = false;
    if (result == DBGDEV_OK && GetDravikGeneration() >= 2 && connectUnderReset == 1 &&
        hotPlug == 0) {
        result = TargetHardReset(0);
        if (result != DBGDEV_OK) {
            LogTrace("Error activating hardware reset");
            return result;
        }
        resetHeld = true;
    }
    // The clock and voltage outcomes only decide the hardware reset above; entry result wins.
    result = JTAG_Enter(protocol);
    if (result != DBGDEV_OK) {
        LogTrace("Error (%d) while initializing Dravik in %s mode", result,
                 protocol == kProtocolSwd ? "SWD" : "JTAG");
        if (resetHeld && TargetHardReset(1) != DBGDEV_OK) {
            LogTrace("Error releasing target reset");
        }
        return result;
    }
    m_targetOpen = true;
    if (protocol == kProtocolJtag && !IsFpuAndBoardTypeFwCmdSupport()) {
        result = WriteDebugRegister(cortexm::kDhcsr, kHaltDebugEnabled, apIndex);
    }
    if (result == DBGDEV_OK && IsTcpAndApFwCmdSupport()) {
        result = InitAP(apIndex, DbgDev_ApTypeDebug);
    }
    if (result == DBGDEV_OK) {
        if (hotPlug == 1) {
            result = RunCore(0, apIndex);
        } else {
            result = ForceDebug(connectUnderReset == 1 ? 0 : 1, apIndex);
        }
    }
    if ((result == DBGDEV_OK || result == DBGDEV_HELD_IN_RESET) && hotPlug == 0) {
        return Reset(1, apIndex, systemReset);
    }
    return result;
}

int DbgDev::CloseTarget(int apIndex) {
    if (apIndex != 0 && !IsTcpAndApFwCmdSupport()) {
        return DBGDEV_NOT_SUPPORTED;
    }
    int result = DBGDEV_OK;
    if (m_probeOpen) {
        result = Get_CurrentMode();
        if (result == DBGDEV_OK && m_probeMode == mode::kDebug && m_targetOpen) {
            // Releasing the core is best effort: leaving the debug protocol is what counts.
            if (IsTcpAndApFwCmdSupport()) {
                (void)CloseDbgAP(apIndex);
            } else {
                (void)WriteDebugRegister(cortexm::kDhcsr, kHaltingDebugOff, apIndex);
            }
            result = JTAG_Exit();
            m_targetOpen = false;
        }
    }
    m_coreIdentified = false;
    return result;
}

int DbgDev::OpenDevice(int protocol, const char* path, int connectUnderReset, int instance,
                       int apIndex) {
    int result = OpenDravik(path, instance, 0u);
    const bool notLatest = result == DBGDEV_FIRMWARE_NOT_LATEST;
    if (result != DBGDEV_OK && !notLatest) {
        return result;
    }
    if (apIndex != 0 && !IsTcpAndApFwCmdSupport()) {
        CloseDravik();
        LogTrace("Access point !=0 not supported by this FW version, close opened connection");
        return DBGDEV_NOT_SUPPORTED;
    }
    result = OpenTarget(protocol, connectUnderReset, 0, apIndex, 1);
    if (result != DBGDEV_OK) {
        return result;
    }
    return notLatest ? DBGDEV_FIRMWARE_NOT_LATEST : DBGDEV_OK;
}

void DbgDev::CloseDevice(int apIndex) {
    (void)CloseTarget(apIndex);
    (void)CloseDravik();
}

int DbgDev::IdentifyTargetCore(int apIndex) {
    if (m_coreIdentified) {
        return DBGDEV_OK;
    }
    unsigned value = 0;
    const int result = ReadDebugRegister(cortexm::kFpCtrl, &value, apIndex);
    if (result != DBGDEV_OK) {
        return result;
    }
    m_coreIdentified = true;
    m_fpbRev2 = (value >> cortexm::fpb::kCtrlRevisionShift) != 0;
    m_fpbCodeComparators =
        static_cast<uint16_t>(value >> cortexm::fpb::kCtrlCodeShift & cortexm::fpb::kCtrlCodeMask);
    if (m_fpbCodeComparators > kMaxCodeComparators) {
        LogTrace("The target has %d flash point we only %d can be used with current software",
                 static_cast<int>(m_fpbCodeComparators), static_cast<int>(kMaxCodeComparators));
        m_fpbCodeComparators = kMaxCodeComparators;
    }
    return DBGDEV_OK;
}
