// Probe modes (DFU, Monowire, idle, debug), debug protocol entry and exit, access ports.
#include "DbgDev.h"
#include "ProbeCommands.h"

using dravik::CommandParams;
using dravik::Exchange;
namespace cmd = dravik::cmd;

namespace {
constexpr uint8_t kEnterSwd = 0xA3;
constexpr uint8_t kEnterJtag = 0xA4;
}  // namespace

int DbgDev::Get_CurrentMode() {
    uint8_t answer[2] = {};
    const int result = Exchange(*this, cmd::GetCurrentMode, CommandParams(), answer);
    if (result == DBGDEV_OK) {
        m_probeMode = answer[0];
        m_probeSubMode = answer[1];
    }
    return result;
}

int DbgDev::DFU_Exit() {
    if (m_probeSubMode > 1) {
        return DBGDEV_DFU_EXIT_REFUSED;
    }
    return Exchange(*this, cmd::DfuExit, CommandParams(), nullptr);
}

int DbgDev::Monowire_Enter() {
    return Exchange(*this, cmd::MonowireEnter, CommandParams(), nullptr);
}

int DbgDev::Monowire_Exit() {
    return Exchange(*this, cmd::MonowireExit, CommandParams(), nullptr);
}

int DbgDev::JTAG_Enter(int protocol) {
    uint8_t answer[2] = {};
    return Exchange(*this, cmd::JtagEnter,
                    CommandParams().u8(protocol == 1 ? kEnterSwd : kEnterJtag), answer);
}

int DbgDev::JTAG_Exit() {
    return Exchange(*this, cmd::JtagExit, CommandParams(), nullptr);
}

int DbgDev::ReadIdCodes(unsigned* first, unsigned* second) {
    uint8_t answer[12] = {};
    const int result = Exchange(*this, cmd::ReadIdCodes, CommandParams(), answer);
    if (result == DBGDEV_OK) {
        if (first != nullptr) {
            *first = dravik::LoadLe32(answer + 4);
        }
        if (second != nullptr) {
            *second = dravik::LoadLe32(answer + 8);
        }
    }
    return result;
}

int DbgDev::InitAP(int apIndex, DbgDev_ApTypeT type) {
    if (!IsTcpAndApFwCmdSupport()) {
        return DBGDEV_NOT_SUPPORTED;
    }
    if (type != DbgDev_ApTypeBasic && type != DbgDev_ApTypeDebug) {
        return DBGDEV_BAD_ARGUMENT;
    }
    uint8_t answer[2] = {};
    return Exchange(
        *this, cmd::InitAp,
        CommandParams().u8(static_cast<uint32_t>(apIndex)).u8(static_cast<uint32_t>(type)), answer);
}

int DbgDev::CloseDbgAP(int apIndex) {
    if (!IsTcpAndApFwCmdSupport()) {
        return DBGDEV_NOT_SUPPORTED;
    }
    uint8_t answer[2] = {};
    return Exchange(*this, cmd::CloseAp, CommandParams().u8(static_cast<uint32_t>(apIndex)),
                    answer);
}
