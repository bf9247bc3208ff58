// Probe opening and closing, version queries and the firmware gates applied at opening.
#include <cstring>

#include "DbgDev.h"
#include "DravikProductIds.h"
#include "ProbeCommands.h"
#include "WireConstants.h"

using dravik::CommandParams;
using dravik::Exchange;
namespace cmd = dravik::cmd;
namespace answer = dravik::answer;

namespace {
constexpr unsigned kMinV1Jtag = 11;        // first-generation firmware below this is refused
constexpr unsigned kMultiClientJtag = 28;  // V2 firmware needed for several TCP clients
constexpr unsigned kSerialFieldSize = 32;
}  // namespace

int DbgDev::OpenDravik(const char* path, int index, unsigned tcpDeviceId) {
    int result = EnumerateDevInterfaceIfRequired(path, nullptr, 0, 0);
    if (result != DBGDEV_OK) {
        return result;
    }
    if (!m_probeOpen) {
        const unsigned char exclusive = m_openExclusive ? 1 : 0;
        unsigned r;
        if (m_interface == DRAVIK_TCP_INTERFACE) {
            if (tcpDeviceId == 0) {
                LogTrace(" GetDeviceInfo2 not called before OpenDeviceTcp");
                m_tcpConnectionId = 0;
                return DBGDEV_OPEN_FAILURE;
            }
            r = Dravik_OpenDeviceTcp(m_interface, tcpDeviceId, exclusive);
            if (r == DRAVIK_DRV_OK) {
                m_tcpConnectionId = tcpDeviceId;
            }
        } else {
            if (index < 0 || static_cast<unsigned>(index) >= m_deviceCount) {
                LogTrace("Bad Dravik instance id (%d > %d)", index,
                         static_cast<int>(m_deviceCount) - 1);
                return DBGDEV_OPEN_FAILURE;
            }
            r = Dravik_OpenDevice(m_interface, static_cast<unsigned char>(index), exclusive,
                                  &m_usbHandle);
        }
        if (r != DRAVIK_DRV_OK) {
            if (r == DRAVIK_DRV_NOT_SUPPORTED_PLATFORM) {
                LogTrace("Device not supported on current platform");
                return DBGDEV_PLATFORM_NOT_SUPPORTED;
            }
            LogTrace("Dravik device USB connection failure");
            return DBGDEV_OPEN_FAILURE;
        }
        m_probeOpen = true;
        result = Veltra_GetVersion(&m_version);
        if (result != DBGDEV_OK) {
            LogTrace("Dravik get version failure");
            CloseDravik();
            return result;
        }
        if (m_version.dravikVer > 2 && m_version.monowireVer == 0 && m_version.jtagVer == 0) {
            result = Veltra_GetVersionExt(&m_version);
            if (result != DBGDEV_OK) {
                LogTrace("Dravik get Extended version failure");
                CloseDravik();
                return result;
            }
        }
        switch (m_version.usbProductId) {
            case DRAVIK_PRODUCT_ID_V1:
                LogTrace("Dravik/V1 device detected");
                break;
            case DRAVIK_PRODUCT_ID_V3:
            case DRAVIK_PRODUCT_ID_V3_MASS:
            case DRAVIK_PRODUCT_ID_V3_BRIDGE:
                LogTrace("Dravik/V3 device detected");
                break;
            default:
                LogTrace("Dravik/V2 device detected");
                break;
        }
    }
    const int v = m_version.dravikVer, j = m_version.jtagVer;
    if (v == 1 && static_cast<unsigned>(j) < kMinV1Jtag) {
        LogTrace(
            "The detected Orvane firmware version (V1.J%d) is too old for the PC software "
            "(V1.J%d min expected): use DravikUpgrade.exe",
            j, static_cast<int>(kMinV1Jtag));
        return DBGDEV_FIRMWARE_TOO_OLD;
    }
    if (m_interface == DRAVIK_TCP_INTERFACE && !IsTcpAndApFwCmdSupport()) {
        unsigned clients = 0;
        const int r = GetNumOfDeviceClientsTcp(&clients, m_tcpConnectionId);
        if (r != DBGDEV_OK || clients > 1) {
            LogTrace(
                "%d TCP clients: The detected Orvane firmware version (V%d.J%d) is too old to use "
                "several clients on shareable Dravik TCP (V2.J%d min expected): use "
                "DravikUpgrade.exe",
                static_cast<int>(clients), v, j, static_cast<int>(kMultiClientJtag));
            return DBGDEV_TCP_CLIENTS_TOO_OLD;
        }
        return DBGDEV_FIRMWARE_NOT_LATEST;
    }
    if (IsOldFwVersion()) {
        LogTrace(
            "The detected Orvane firmware version (V%d.J%d) is compatible with PC software but "
            "is not the most recent one",
            v, j);
        return DBGDEV_FIRMWARE_NOT_LATEST;
    }
    return DBGDEV_OK;
}

int DbgDev::OpenDravik(const char* path, const char* serialNumber, int strict) {
    if (serialNumber == nullptr) {
        LogTrace("NULL pointer for serialNumber in OpenDravik");
        return DBGDEV_BAD_ARGUMENT;
    }
    int result = EnumerateDevInterfaceIfRequired(path, nullptr, 0, 0);
    if (result != DBGDEV_OK) {
        return result;
    }
    if (m_probeOpen) {
        LogTrace("Dravik serial number (%s) not found; can not open.", serialNumber);
        return DBGDEV_SERIAL_NOT_FOUND;
    }
    TDeviceInfo2 info{};
    char serial[kSerialFieldSize + 1] = {};
    unsigned tcpDeviceId = 0;
    for (unsigned i = 0; i < m_deviceCount; ++i) {
        std::memset(&info, 0, sizeof info);
        result = GetDeviceInfo2(static_cast<int>(i), &info, sizeof info);
        if (result != DBGDEV_OK) {
            return result;
        }
        if (m_interface == DRAVIK_TCP_INTERFACE) {
            tcpDeviceId = info.deviceId;
        }
        // The driver may fill all 32 bytes without a terminator: never read past the field.
        std::memcpy(serial, info.serialNumber, kSerialFieldSize);
        serial[kSerialFieldSize] = '\0';
        if (std::strcmp(serial, serialNumber) == 0) {
            return OpenDravik(path, static_cast<int>(i), tcpDeviceId);
        }
    }
    if (strict == 0 && m_deviceCount == 1) {
        LogTrace(
            "Dravik serial number (%s) not found; opening the (lonely) connected Dravik (SN=%s)",
            serialNumber, serial);
        return OpenDravik(path, 0, tcpDeviceId);
    }
    LogTrace("Dravik serial number (%s) not found; can not open.", serialNumber);
    return DBGDEV_SERIAL_NOT_FOUND;
}

int DbgDev::CloseDravik() {
    if (!m_probeOpen) {
        return DBGDEV_OK;
    }
    if (m_usbHandle != nullptr || (m_interface == DRAVIK_TCP_INTERFACE && m_tcpConnectionId != 0)) {
        unsigned r;
        if (m_interface == DRAVIK_TCP_INTERFACE) {
            r = Dravik_CloseDeviceTcp(m_tcpConnectionId, 0);
            m_enumerated = false;
        } else {
            r = Dravik_CloseDevice(m_usbHandle);
        }
        if (r != DRAVIK_DRV_OK) {
            LogTrace("Error closing USB communication");
        }
    }
    m_probeOpen = false;
    return DBGDEV_OK;
}

int DbgDev::Veltra_GetVersion(VERSION* version) {
    uint8_t reply[6] = {};
    const int result = Exchange<cmd::GetVersion>(*this, CommandParams(), reply);
    if (result != DBGDEV_OK || version == nullptr) {
        return result;
    }
    const unsigned word = unsigned(reply[0]) << 8 | reply[1];  // big-endian, unlike all else
    version->dravikVer = static_cast<uint8_t>(word >> 12 & 0x0F);
    version->jtagVer = static_cast<uint8_t>(word >> 6 & 0x3F);
    version->monowireVer = static_cast<uint8_t>(word & 0x3F);
    version->usbVendorId = dravik::LoadLe16(reply + answer::kVersionVendorId);
    version->usbProductId = dravik::LoadLe16(reply + answer::kVersionProductId);
    return DBGDEV_OK;
}

int DbgDev::Veltra_GetVersion(VERSION_EXT* version) {
    VERSION shortVersion{};
    const int result = Veltra_GetVersion(&shortVersion);
    if (result != DBGDEV_OK || version == nullptr) {
        return result;
    }
    version->dravikVer = shortVersion.dravikVer;
    version->monowireVer = shortVersion.monowireVer;
    version->jtagVer = shortVersion.jtagVer;
    version->auxVer1 = version->auxVer2 = version->auxVer3 = 0;
    version->usbVendorId = shortVersion.usbVendorId;
    version->usbProductId = shortVersion.usbProductId;
    return DBGDEV_OK;
}

int DbgDev::Veltra_GetVersionExt(VERSION_EXT* version) {
    uint8_t reply[12] = {};
    const int result = Exchange<cmd::GetVersionExt>(*this, CommandParams(), reply);
    if (result != DBGDEV_OK || version == nullptr) {
        return result;
    }
    version->dravikVer = reply[0];
    version->monowireVer = reply[1];
    version->jtagVer = reply[2];
    version->auxVer1 = reply[3];
    version->auxVer2 = reply[4];
    version->auxVer3 = reply[5];
    version->usbVendorId = dravik::LoadLe16(reply + answer::kExtVersionVendorId);
    version->usbProductId = dravik::LoadLe16(reply + answer::kExtVersionProductId);
    return DBGDEV_OK;
}

int DbgDev::GetBoardType(unsigned* boardType) {
    if (!IsFpuAndBoardTypeFwCmdSupport()) {
        if (boardType != nullptr) {
            *boardType = 0xFFFFFFFFu;
        }
        return DBGDEV_NOT_SUPPORTED;
    }
    if (boardType == nullptr) {
        return DBGDEV_BAD_ARGUMENT;
    }
    return dravik::ExchangeInto<cmd::GetBoardType>(*this, CommandParams(), boardType);
}
