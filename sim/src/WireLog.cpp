#include <cstdio>

#include "DravikBench/WireLog.h"

namespace dravik::sim {

const char* CallName(Call call) {
    switch (call) {
        case Call::Reenumerate:
            return "Dravik_Reenumerate";
        case Call::ReenumerateTcp:
            return "Dravik_ReenumerateTcp";
        case Call::GetNbDevices:
            return "Dravik_GetNbDevices";
        case Call::GetDeviceInfo2:
            return "Dravik_GetDeviceInfo2";
        case Call::GetDeviceInfo:
            return "Dravik_GetDeviceInfo";
        case Call::OpenDevice:
            return "Dravik_OpenDevice";
        case Call::OpenDeviceTcp:
            return "Dravik_OpenDeviceTcp";
        case Call::SendCommand:
            return "Dravik_SendCommand";
        case Call::SendCommandTcp:
            return "Dravik_SendCommandTcp";
        case Call::GetNumOfDeviceClientsTcp:
            return "Dravik_GetNumOfDeviceClientsTcp";
        case Call::CloseDevice:
            return "Dravik_CloseDevice";
        case Call::CloseDeviceTcp:
            return "Dravik_CloseDeviceTcp";
        case Call::FreeLibrary:
            return "Dravik_FreeLibrary";
    }
    return "?";
}

std::string WireEntry::cdbHex(unsigned cdbBytes) const {
    std::string text;
    char byte[4];
    for (unsigned i = 0; i < cdbBytes && i < cdb.size(); ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", cdb[i]);
        text += byte;
    }
    return text;
}

std::string WireEntry::describe() const {
    char head[160];
    if (!isSend()) {
        std::snprintf(head, sizeof head, "%s(iface=%u index=%u option=%u id=%u) -> 0x%X",
                      CallName(call), iface, index, option, deviceId, result);
        return head;
    }
    std::snprintf(head, sizeof head, "%s len=%u cdb=[%s] dir=%u buf=%s/%u sense=%u -> 0x%X",
                  CallName(call), cdbLength, cdbHex(16).c_str(), direction,
                  nullBuffer ? "null" : "set", bufferLength, senseLength, result);
    std::string text = head;
    const std::vector<uint8_t>& data = direction == 0 ? sent : received;
    if (!data.empty()) {
        text += direction == 0 ? " sent=" : " got=";
        char byte[4];
        for (size_t i = 0; i < data.size() && i < 64; ++i) {
            std::snprintf(byte, sizeof byte, "%02X", data[i]);
            text += byte;
        }
        if (data.size() > 64) {
            text += "...";
        }
    }
    return text;
}

}  // namespace dravik::sim
