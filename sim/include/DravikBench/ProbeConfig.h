// Configuration of one simulated probe. Everything a probe reports, and every result the driver
// library can give for it, is set here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DravikBench/TargetConfig.h"
#include "DravikProductIds.h"
#include "DravikUSBDriver.h"

namespace dravik::sim {

// Status words the simulated firmware answers.
namespace status {
constexpr uint16_t kOk = 0x0080;
constexpr uint16_t kNoTarget = 0x0005;  // target absent at debug entry
constexpr uint16_t kIdcodeError = 0x0009;
constexpr uint16_t kUnknownJtagChain = 0x0004;
constexpr uint16_t kWriteVerifyError = 0x000D;  // core register write verification failed
constexpr uint16_t kApInUse = 0x001B;
constexpr uint16_t kApNewOwner = 0x001C;
constexpr uint16_t kApBadIndex = 0x001D;
constexpr uint16_t kApFault = 0x0011;  // also: the target's bus refused an access
constexpr uint16_t kTcpIdError = 0x0030;
constexpr uint16_t kSettingsChanged = 0x0040;
constexpr uint16_t kGenericError = 0x0081;    // also: core not halted, no such register
constexpr uint16_t kUnknownCommand = 0x0082;  // what firmware answers to a command it lacks
constexpr uint16_t kWrongMode = 0x0083;       // a debug command outside debug mode
}  // namespace status

// Driver library results the bench gives besides the documented ones.
namespace drv {
constexpr unsigned kOk = DRAVIK_DRV_OK;
constexpr unsigned kFailure = 0;
constexpr unsigned kBadHandle = 0x1001;
constexpr unsigned kBadRecord = 0x1002;     // null buffer with a non-zero length, bad direction
constexpr unsigned kDisconnected = 0x1008;  // the probe was unplugged
constexpr unsigned kBusy = 0x1010;          // held exclusively by another handle
}  // namespace drv

// Probe modes as the mode query reports them.
enum ProbeMode : uint8_t { kModeDfu = 0, kModeIdle = 1, kModeDebug = 2, kModeMonowire = 3 };

struct ProbeConfig {
    // Identity and description record.
    std::string serial = "DRAVIK-BENCH-0001";
    TEnumDravikInterface iface = DRAVIK_USB_INTERFACE;
    uint16_t infoVendorId = DRAVIK_USB_VENDOR_ID;   // first 16-bit identifier of the record
    uint16_t infoProductId = DRAVIK_PRODUCT_ID_V3;  // second 16-bit identifier
    uint32_t deviceId = 0;                          // TCP device id; 0 = assigned by the bench
    uint8_t infoLastByte = 0;

    // Version: generation V, debug firmware J, Monowire firmware.
    uint8_t generation = 3;
    uint8_t jtagVersion = 7;
    uint8_t monowireVersion = 0;
    uint8_t auxVersions[3] = {1, 0, 0};
    // The product id names the model (DravikProductIds.h holds the values): DRAVIK_PRODUCT_ID_V1
    // (0x0101) marks the first generation; DRAVIK_PRODUCT_ID_V3 (0x0301), DRAVIK_PRODUCT_ID_V3_MASS
    // (0x0302) and DRAVIK_PRODUCT_ID_V3_BRIDGE (0x0303) mark the third; any other id is taken for a
    // second-generation probe. It is independent of `generation`, which alone decides the firmware.
    uint16_t vendorId = DRAVIK_USB_VENDOR_ID;
    uint16_t productId = DRAVIK_PRODUCT_ID_V3;
    // Third-generation probes report their versions through the extended query only; the short
    // query then shows zero debug and Monowire versions.
    bool shortVersionZeroed = true;
    uint32_t boardType = 0x00000003;

    // Mode at power-up.
    uint8_t initialMode = kModeDfu;
    uint8_t initialSubMode = 0;
    uint32_t idCodes[2] = {0x2BA01477, 0x00000000};

    // Driver-level results for this probe.
    unsigned infoResult = drv::kOk;  // description record calls
    unsigned openResult = drv::kOk;
    unsigned extraTcpClients = 0;  // other clients sharing it through the TCP server

    // Interface clocks of third-generation firmware: the frequencies it offers, fastest first; a
    // requested frequency is applied as the nearest offered one at or below it, a request below all
    // of them as the slowest. The frequency list answer carries the first ten.
    std::vector<uint32_t> swdFrequenciesKHz = {24000, 8000, 3300, 1000, 200, 50, 5};
    std::vector<uint32_t> jtagFrequenciesKHz = {21333, 16000, 12000, 8000, 1777, 750};
    // A probe frequency switch reports changed settings (status 0x0040) with this value.
    bool switchFreqChangesSettings = false;
    uint32_t switchFreqValue = 0;

    // Probe services: target voltage readings (reference A, target B: volts = 2 * B * 1.2 / A), the
    // mass-storage volume name (12 bytes).
    uint32_t voltageReference = 1500;
    uint32_t voltageTarget = 2062;
    std::string volumeName = "DRAVIK_BENCH";

    // Whether a target is attached behind the probe, and the model built from `target` when the
    // probe is added (a configuration that describeConfigError rejects leaves it without one).
    bool targetAttached = true;
    TargetConfig target;
    unsigned accessPorts = 2;  // valid access port indexes: 0 .. accessPorts - 1
};

// Bench-wide driver results.
struct DriverConfig {
    unsigned reenumerateResult = drv::kOk;
    unsigned reenumerateTcpResult = drv::kOk;
    int countOverride = -1;  // >= 0: what GetNbDevices answers whatever the list holds
};

}  // namespace dravik::sim
