// Target connection: bringing an opened probe to a debug connection with the target and back.
#include "DbgDev.h"

namespace {
constexpr unsigned kDhcsr = 0xE000EDF0;
constexpr unsigned kDbgKey = 0xA05F0000;
}  // namespace

int DbgDev::CloseTarget(int apIndex) {
    if (apIndex != 0 && !IsTcpAndApFwCmdSupport()) {
        return DBGDEV_NOT_SUPPORTED;
    }
    int result = DBGDEV_OK;
    if (m_probeOpen) {
        result = Get_CurrentMode();
        if (result == DBGDEV_OK && m_probeMode == 2 && m_targetOpen) {
            // Releasing the core is best effort: leaving the debug protocol is what counts.
            if (IsTcpAndApFwCmdSupport()) {
                (void)CloseDbgAP(apIndex);
            } else {
                (void)WriteDebugRegister(kDhcsr, kDbgKey, apIndex);
            }
            result = JTAG_Exit();
            m_targetOpen = false;
        }
    }
    m_coreIdentified = false;
    return result;
}

void DbgDev::CloseDevice(int apIndex) {
    (void)CloseTarget(apIndex);
    (void)CloseDravik();
}
