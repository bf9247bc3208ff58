// Single-word target accesses through an access port, DAP register access, last transfer status.
#include "DbgDev.h"
#include "ProbeCommands.h"
#include "WireConstants.h"

using dravik::CommandParams;
using dravik::Exchange;
namespace cmd = dravik::cmd;
using dravik::answer::kWord;

int DbgDev::WriteDebugRegister(unsigned address, unsigned value, int apIndex) {
    uint8_t answer[2] = {};
    return Exchange<cmd::WriteDebugRegister>(
        *this, CommandParams().u32(address).u32(value).u8(static_cast<uint32_t>(apIndex)), answer);
}

int DbgDev::ReadDebugRegister(unsigned address, unsigned* value, int apIndex) {
    if (value == nullptr) {
        LogTrace("NULL pointer in ReadDebugRegister");
        return DBGDEV_BAD_ARGUMENT;
    }
    uint8_t answer[8] = {};
    const int result = Exchange<cmd::ReadDebugRegister>(
        *this, CommandParams().u32(address).u8(static_cast<uint32_t>(apIndex)), answer);
    if (result == DBGDEV_OK) {
        *value = dravik::LoadLe32(answer + kWord);
    }
    return result;
}

int DbgDev::ReadDapRegister(int dpOrApPort, unsigned short dapRegister, unsigned* value) {
    if (value == nullptr) {
        return DBGDEV_BAD_ARGUMENT;
    }
    if (!IsDapRegFwCmdSupport()) {
        LogTrace(
            "The detected Orvane firmware version (V%d.J%d) does not support the DAP read "
            "command.",
            m_version.dravikVer, m_version.jtagVer);
        return DBGDEV_NOT_SUPPORTED;
    }
    uint8_t answer[8] = {};
    const int result = Exchange<cmd::ReadDapRegister>(
        *this, CommandParams().u16(static_cast<uint32_t>(dpOrApPort)).u16(dapRegister), answer);
    if (result == DBGDEV_OK) {
        *value = dravik::LoadLe32(answer + kWord);
    }
    return result;
}

int DbgDev::WriteDapRegister(int dpOrApPort, unsigned short dapRegister, unsigned value) {
    if (!IsDapRegFwCmdSupport()) {
        LogTrace(
            "The detected Orvane firmware version (V%d.J%d) does not support the DAP write "
            "command.",
            m_version.dravikVer, m_version.jtagVer);
        return DBGDEV_NOT_SUPPORTED;
    }
    uint8_t answer[2] = {};
    return Exchange<cmd::WriteDapRegister>(
        *this, CommandParams().u16(static_cast<uint32_t>(dpOrApPort)).u16(dapRegister).u32(value),
        answer);
}

int DbgDev::GetLastReadWriteStatus(unsigned* rwStatus) {
    // Sized for the long form; the short form fills only the status word, so bytes 4-7 stay 0.
    uint8_t answer[12] = {};
    const int result = IsFpuAndBoardTypeFwCmdSupport()
                           ? Exchange<cmd::LastRwStatusLong>(*this, CommandParams(), answer)
                           : Exchange<cmd::LastRwStatus>(*this, CommandParams(), answer);
    if (rwStatus != nullptr) {
        *rwStatus = dravik::LoadLe32(answer + kWord);
    }
    return result;
}
