// Probe-side services that leave the target's debug logic alone: target supply voltage, the LED,
// the mass-storage volume name and the clock put out on the MCO pin.
#include <algorithm>
#include <cstring>

#include "DbgDev.h"
#include "ProbeCommands.h"
#include "WireConstants.h"

using dravik::CommandParams;
using dravik::Exchange;
namespace cmd = dravik::cmd;
namespace answer = dravik::answer;

namespace {

constexpr unsigned kVolumeNameSize = 12;
constexpr unsigned kHighestMcoSelection = 4;
constexpr uint8_t kMcoFallbackWithoutSwitch = 2;

int RefuseUnsupported(DbgDev& dev, const VERSION_EXT& version, const char* what) {
    dev.LogTrace("The detected Orvane firmware version (V%d.J%d) does not support the %s.",
                 static_cast<int>(version.dravikVer), static_cast<int>(version.jtagVer), what);
    return DBGDEV_NOT_SUPPORTED;
}

}  // namespace

int DbgDev::GetTargetVoltage(float* volts) {
    if (!IsVoltageNrstAndSwvFwCmdSupport()) {
        return RefuseUnsupported(*this, m_version, "target voltage reading");
    }
    uint8_t reply[8] = {};
    const int result = Exchange<cmd::GetTargetVoltage>(*this, CommandParams(), reply);
    if (result != DBGDEV_OK || volts == nullptr) {
        return result;
    }
    const uint32_t referenceReading = dravik::LoadLe32(reply);
    const uint32_t targetReading = dravik::LoadLe32(reply + answer::kVoltageTarget);
    if (referenceReading != 0) {
        const float reference = static_cast<float>(referenceReading);
        const float target = static_cast<float>(targetReading);
        // Single precision, in exactly this order: the rounding is part of the reported value.
        *volts = ((target + target) * 1.2f) / reference;
    }
    return result;
}

int DbgDev::BlinkDravikLed() {
    if (!IsLedAndDiskNameFwCmdSupport()) {
        return RefuseUnsupported(*this, m_version, "LED blink command");
    }
    uint8_t answer[2] = {};
    return Exchange<cmd::BlinkLed>(*this, CommandParams(), answer);
}

int DbgDev::GetMassStorageVolumeName(unsigned char* name, unsigned short size) {
    if (!IsLedAndDiskNameFwCmdSupport()) {
        return RefuseUnsupported(*this, m_version, "mass storage volume name reading");
    }
    if (name == nullptr || size == 0) {
        return DBGDEV_BAD_ARGUMENT;
    }
    uint8_t reply[answer::kVolumeName + kVolumeNameSize] = {};
    const int result = Exchange<cmd::GetVolumeName>(*this, CommandParams(), reply);
    if (result == DBGDEV_OK) {
        // No terminator: the name fills its 12 bytes, and the caller asked for a byte count.
        std::memcpy(name, reply + answer::kVolumeName, std::min<unsigned>(size, kVolumeNameSize));
    }
    return result;
}

int DbgDev::SelectMcoOutput(DbgDev_McoSelT selection) {
    if (!m_probeOpen) {
        return DBGDEV_NO_PROBE;
    }
    if (!IsMcoSelAndRW16bitFwCmdSupport()) {
        LogTrace(
            "The detected Dravik firmware version (V%d.J%d) does not support the MCO output "
            "selection. Default output (HSE) kept.",
            static_cast<int>(m_version.dravikVer), static_cast<int>(m_version.jtagVer));
        return DBGDEV_NOT_SUPPORTED;
    }
    // Taken as unsigned, so negative values are out of range as well.
    const unsigned value = static_cast<unsigned>(selection);
    if (value > kHighestMcoSelection) {
        LogTrace("Wrong parameter (%d) in DbgDev::SelectMcoOutput.", static_cast<int>(selection));
        return DBGDEV_BAD_ARGUMENT;
    }
    // Firmware without the frequency switch lacks selection 4; selection 2 stands in for it.
    uint8_t code = static_cast<uint8_t>(value);
    if (value == DbgDev_McoSel4 && !IsGetSetSwitchFreqFwCmdSupport()) {
        code = kMcoFallbackWithoutSwitch;
    }
    uint8_t answer[2] = {};
    return Exchange<cmd::SelectMco>(*this, CommandParams().u8(code), answer);
}
