// Probe discovery: enumeration, description records, opening mode, TCP server parameters.
#include <cstdio>
#include <cstring>

#include "DbgDev.h"

int DbgDev::EnumerateDevInterfaceIfRequired(const char* path, int* count, int force, int option) {
    if (count != nullptr) {
        *count = 0;
    }
    if (!m_enumInitDone) {
        if (path != nullptr) {
            // Bounded and always terminated, whatever the caller handed in.
            std::snprintf(m_driverPath, sizeof m_driverPath, "%s", path);
        }
        m_enumInitDone = true;
    }
    int result = DBGDEV_OK;
    if (!m_enumerated || force == 1) {
        const unsigned char optionByte = static_cast<unsigned char>(option);
        const unsigned r = m_interface == DRAVIK_TCP_INTERFACE
                               ? Dravik_ReenumerateTcp(m_interface, optionByte, m_tcpServerAddress,
                                                       m_tcpServerCmdArgs)
                               : Dravik_Reenumerate(m_interface, optionByte);
        if (r == DRAVIK_DRV_TCP_ERROR_1 || r == DRAVIK_DRV_TCP_ERROR_2) {
            LogTrace("Error (0x%06lx) during Dravik enumeration through TCP",
                     static_cast<unsigned long>(r));
        }
        m_deviceCount = Dravik_GetNbDevices(m_interface);
        if (m_deviceCount == 0) {
            LogTrace("No Dravik device detected on the USB");
            return DBGDEV_NO_PROBE;
        }
        if (r == DRAVIK_DRV_OK) {
            m_enumerated = true;
        } else if (r == DRAVIK_DRV_NO_PERMISSION) {
            LogTrace("Lack of permission during enumeration");
            result = DBGDEV_NO_PERMISSION;
        } else {
            LogTrace("Error during enumeration");
            result = DBGDEV_ENUMERATION_FAILURE;
        }
    }
    if (count != nullptr) {
        *count = static_cast<int>(m_deviceCount);
    }
    return result;
}

int DbgDev::EnumerateDevInterface(const char* path, int* count, int option) {
    return EnumerateDevInterfaceIfRequired(path, count, 1, option);
}

namespace {

// Both description records are read the same way; only the record and the library call differ.
// `deviceCount` is read after the enumeration that may refresh it.
template <typename Record, typename LibraryCall>
int Describe(DbgDev& dev, const uint32_t& deviceCount, TEnumDravikInterface iface, int index,
             Record* info, unsigned size, const char* nullMessage, LibraryCall call) {
    const int result = dev.EnumerateDevInterfaceIfRequired(nullptr, nullptr, 0, 0);
    if (result != DBGDEV_OK) {
        return result;
    }
    if (index < 0 || static_cast<unsigned>(index) >= deviceCount) {
        dev.LogTrace("Bad Dravik instance id (%d > %d)", index, static_cast<int>(deviceCount) - 1);
        return DBGDEV_BAD_ARGUMENT;
    }
    if (info == nullptr) {
        dev.LogTrace("%s", nullMessage);
        return DBGDEV_BAD_ARGUMENT;
    }
    return call(iface, static_cast<unsigned char>(index), info, size) == DRAVIK_DRV_OK
               ? DBGDEV_OK
               : DBGDEV_NO_DESCRIPTION;
}

}  // namespace

int DbgDev::GetDeviceInfo2(int index, TDeviceInfo2* info, unsigned size) {
    return Describe(*this, m_deviceCount, m_interface, index, info, size,
                    "Bad parameter in GetDeviceInfo2 (NULL pointer)", Dravik_GetDeviceInfo2);
}

int DbgDev::GetDeviceInfo(int index, TDeviceInfo* info, unsigned size) {
    if (m_interface == DRAVIK_TCP_INTERFACE) {
        LogTrace("GetDeviceInfo2 must be used instead of GetDeviceInfo");
        return DBGDEV_NOT_SUPPORTED;
    }
    return Describe(*this, m_deviceCount, m_interface, index, info, size,
                    "Bad parameter in GetDeviceInfo (NULL pointer)", Dravik_GetDeviceInfo);
}

void DbgDev::SetOpenModeExclusive(bool exclusive) {
    m_openExclusive = exclusive;
}

namespace {
// Appends `text` to the 50-byte field, keeping at most 49 characters and a terminator.
void AppendCut(char (&field)[DbgDev::kTcpTextSize], const char* text) {
    size_t used = std::strlen(field);
    while (*text != '\0' && used + 1 < sizeof field) {
        field[used++] = *text++;
    }
    field[used] = '\0';
}
}  // namespace

int DbgDev::SetTcpServerParam(unsigned char paramCount, DbgDev_TcpServerParamT* param) {
    if (paramCount <= 2 || param == nullptr) {
        return DBGDEV_BAD_ARGUMENT;
    }
    m_tcpServerCmdArgs[0] = '\0';
    AppendCut(m_tcpServerCmdArgs, param->serverArgs != nullptr ? param->serverArgs : "-a");
    m_tcpServerAddress[0] = '\0';
    if (param->serverHost != nullptr && param->serverHost[0] != '\0') {
        AppendCut(m_tcpServerAddress, "@");
        AppendCut(m_tcpServerAddress, param->serverHost);
    }
    if (param->serverPort != nullptr && param->serverPort[0] != '\0') {
        AppendCut(m_tcpServerAddress, ":");
        AppendCut(m_tcpServerAddress, param->serverPort);
    }
    return DBGDEV_OK;
}

int DbgDev::GetNumOfDeviceClientsTcp(unsigned int* clients, unsigned int connectionId) {
    if (clients == nullptr) {
        return DBGDEV_BAD_ARGUMENT;  // nothing to write the count to
    }
    unsigned connection = m_tcpConnectionId;
    *clients = 0;
    if (connectionId != 0) {
        connection = connectionId;
    }
    if (m_interface != DRAVIK_TCP_INTERFACE) {
        return DBGDEV_NOT_SUPPORTED;
    }
    if (connection == 0) {
        return DBGDEV_NO_PROBE;
    }
    *clients = Dravik_GetNumOfDeviceClientsTcp(connection);
    return DBGDEV_OK;
}
