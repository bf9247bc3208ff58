// Probe modes (DFU, Monowire, idle, debug), debug protocol entry and exit, access ports.
#include "DbgDev.h"
#include "ProbeCommands.h"
#include "WireConstants.h"

using dravik::CommandParams;
using dravik::Exchange;
namespace cmd = dravik::cmd;

namespace answer = dravik::answer;
namespace entry = dravik::entry;

int DbgDev::Get_CurrentMode() {
    uint8_t reply[2] = {};
    const int result = Exchange<cmd::GetCurrentMode>(*this, CommandParams(), reply);
    if (result == DBGDEV_OK) {
        m_probeMode = reply[0];
        m_probeSubMode = reply[1];
    }
    return result;
}

int DbgDev::DFU_Exit() {
    if (m_probeSubMode > 1) {
        return DBGDEV_DFU_EXIT_REFUSED;
    }
    return Exchange<cmd::DfuExit>(*this, CommandParams());
}

int DbgDev::Monowire_Enter() {
    return Exchange<cmd::MonowireEnter>(*this, CommandParams());
}

int DbgDev::Monowire_Exit() {
    return Exchange<cmd::MonowireExit>(*this, CommandParams());
}

int DbgDev::JTAG_Enter(int protocol) {
    uint8_t answer[2] = {};
    return Exchange<cmd::JtagEnter>(
        *this, CommandParams().u8(protocol == 1 ? entry::kSwd : entry::kJtag), answer);
}

int DbgDev::JTAG_Exit() {
    return Exchange<cmd::JtagExit>(*this, CommandParams());
}

int DbgDev::ReadIdCodes(unsigned* first, unsigned* second) {
    uint8_t reply[12] = {};
    const int result = Exchange<cmd::ReadIdCodes>(*this, CommandParams(), reply);
    if (result == DBGDEV_OK) {
        if (first != nullptr) {
            *first = dravik::LoadLe32(reply + answer::kWord);
        }
        if (second != nullptr) {
            *second = dravik::LoadLe32(reply + answer::kSecondWord);
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
    return Exchange<cmd::InitAp>(
        *this, CommandParams().u8(static_cast<uint32_t>(apIndex)).u8(static_cast<uint32_t>(type)),
        answer);
}

int DbgDev::CloseDbgAP(int apIndex) {
    if (!IsTcpAndApFwCmdSupport()) {
        return DBGDEV_NOT_SUPPORTED;
    }
    uint8_t answer[2] = {};
    return Exchange<cmd::CloseAp>(*this, CommandParams().u8(static_cast<uint32_t>(apIndex)),
                                  answer);
}
