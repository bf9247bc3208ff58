// The bench's record of every driver call, in order, for exact-byte tests.
#pragma once

#include "DravikBench/BenchExport.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace dravik::sim {

enum class Call : uint8_t {
    Reenumerate,
    ReenumerateTcp,
    GetNbDevices,
    GetDeviceInfo2,
    GetDeviceInfo,
    OpenDevice,
    OpenDeviceTcp,
    SendCommand,
    SendCommandTcp,
    GetNumOfDeviceClientsTcp,
    CloseDevice,
    CloseDeviceTcp,
    FreeLibrary,
};

DRAVIK_BENCH_API const char* CallName(Call call);

struct DRAVIK_BENCH_API WireEntry {
    Call call = Call::FreeLibrary;
    uint32_t iface = 0;     // interface argument
    uint32_t index = 0;     // probe index argument
    uint32_t option = 0;    // option byte, or the exclusive flag of an open
    uint32_t deviceId = 0;  // TCP device id argument
    uintptr_t handle = 0;   // USB handle argument (or the one returned by an open)
    uint32_t size = 0;      // record size argument of the description calls
    std::string serverAddress;
    std::string serverArgs;
    uint32_t result = 0;  // what the call returned
    int probe = -1;       // bench index of the probe addressed at the time, -1 when none

    // Send calls: a copy of the record and of the data phase.
    uint8_t cdbLength = 0;
    std::array<uint8_t, 16> cdb{};
    uint8_t direction = 0;
    bool nullBuffer = false;
    uint32_t bufferLength = 0;
    uint8_t senseLength = 0;
    uint32_t timeoutMs = 0;
    std::vector<uint8_t> sent;      // bytes sent (direction 0)
    std::vector<uint8_t> received;  // bytes delivered into the buffer (directions 1 and 3)

    bool isSend() const { return call == Call::SendCommand || call == Call::SendCommandTcp; }
    // "F2 36 F0 ED 00 E0 00" style rendering of the first `cdbBytes` command bytes.
    std::string cdbHex(unsigned cdbBytes = 10) const;
    std::string describe() const;
};

}  // namespace dravik::sim
