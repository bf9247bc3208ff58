// Firmware capability predicates: which commands the opened probe's firmware offers, from V (probe
// generation) and J (debug firmware version). Both are 0 until a probe has been opened.
#include "DbgDev.h"

bool DbgDev::IsFpuAndBoardTypeFwCmdSupport() const {
    const unsigned v = m_version.dravikVer, j = m_version.jtagVer;
    return !(v <= 1 || (v == 2 && j <= 14));
}

bool DbgDev::IsJtagConnUnderResetFwSupport() const {
    return IsFpuAndBoardTypeFwCmdSupport();
}

bool DbgDev::IsGetSetSwitchFreqFwCmdSupport() const {
    return m_version.dravikVer > 2;
}

bool DbgDev::IsTcpAndApFwCmdSupport() const {
    const unsigned v = m_version.dravikVer, j = m_version.jtagVer;
    return !(v == 1 || (v == 2 && j <= 27));
}

bool DbgDev::IsLedAndDiskNameFwCmdSupport() const {
    return IsTcpAndApFwCmdSupport();
}

bool DbgDev::IsVoltageNrstAndSwvFwCmdSupport() const {
    const unsigned v = m_version.dravikVer, j = m_version.jtagVer;
    return !(v == 1 || (v == 2 && j <= 12));
}

bool DbgDev::IsSwdClkFwCmdSupport() const {
    const unsigned v = m_version.dravikVer, j = m_version.jtagVer;
    return !(v == 1 || v >= 3 || (v == 2 && j <= 21));
}

bool DbgDev::IsJtagClkFwCmdSupport() const {
    const unsigned v = m_version.dravikVer, j = m_version.jtagVer;
    return !(v == 1 || v >= 3 || (v == 2 && j <= 23));
}

bool DbgDev::IsDapRegFwCmdSupport() const {
    const unsigned v = m_version.dravikVer, j = m_version.jtagVer;
    return !(v == 1 || (v == 2 && j <= 23));
}

bool DbgDev::IsMcoSelAndRW16bitFwCmdSupport() const {
    const unsigned v = m_version.dravikVer, j = m_version.jtagVer;
    return !(v == 1 || (v == 2 && j <= 25));
}

bool DbgDev::IsOldFwVersion() const {
    const unsigned v = m_version.dravikVer, j = m_version.jtagVer;
    return (v == 1 && j <= 12) || (v == 2 && j <= 29) || (v == 3 && j == 0);
}

int DbgDev::GetDravikGeneration() const {
    switch (m_version.dravikVer) {
        case 1:
            return 1;
        case 2:
            return 2;
        default:
            return 3;
    }
}
