// Single-word target accesses through an access port, DAP register access, last transfer status.
#include "DbgDev.h"
#include "ProbeCommands.h"

using dravik::CommandParams;
using dravik::Exchange;
namespace cmd = dravik::cmd;

int DbgDev::WriteDebugRegister(unsigned address, unsigned value, int apIndex) {
    uint8_t answer[2] = {};
    return Exchange(*this, cmd::WriteDebugRegister,
                    CommandParams().u32(address).u32(value).u8(static_cast<uint32_t>(apIndex)),
                    answer);
}

int DbgDev::ReadDebugRegister(unsigned address, unsigned* value, int apIndex) {
    if (value == nullptr) {
        LogTrace("NULL pointer in ReadDebugRegister");
        return DBGDEV_BAD_ARGUMENT;
    }
    uint8_t answer[8] = {};
    const int result = Exchange(*this, cmd::ReadDebugRegister,
                                CommandParams().u32(address).u8(static_cast<uint32_t>(apIndex)),
                                answer);
    if (result == DBGDEV_OK) {
        *value = dravik::LoadLe32(answer + 4);
    }
    return result;
}
