// The single path from every operation to the probe, and the status word analysis.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "Allocation.h"
#include "DbgDev.h"
#include "ProbeCommands.h"
#include "WireConstants.h"

namespace {

constexpr unsigned kExchangeTimeoutMs = 5000;
constexpr unsigned char kSenseLength = 14;

struct FreeRecord {
    void operator()(TDeviceRequest* request) const { std::free(request); }
};

}  // namespace

int DbgDev::SendRequestAndAnalyzeStatus(TDeviceRequest* request, const unsigned short* status) {
    if (request == nullptr) {
        return DBGDEV_BAD_ARGUMENT;
    }
    if (!m_probeOpen) {
        return DBGDEV_NO_PROBE;
    }
    unsigned result;
    if (m_interface == DRAVIK_TCP_INTERFACE) {
        if (m_tcpConnectionId == 0) {
            LogTrace(
                " GetDeviceInfo2/OpenDevice must be called before sending command via dravik-TCP ");
            return DBGDEV_OPEN_FAILURE;
        }
        result = Dravik_SendCommandTcp(m_tcpConnectionId, request, kExchangeTimeoutMs);
    } else {
        result = Dravik_SendCommand(m_usbHandle, request, kExchangeTimeoutMs);
    }
    const unsigned char* cdb = request->cdb;
    if (result != DRAVIK_DRV_OK) {
        LogTrace(
            "USB communication error (%d) after target cmd %02hX %02hX %02hX %02hX %02hX %02hX "
            "%02hX %02hX %02hX %02hX",
            static_cast<int>(result), (unsigned short)cdb[0], (unsigned short)cdb[1],
            (unsigned short)cdb[2], (unsigned short)cdb[3], (unsigned short)cdb[4],
            (unsigned short)cdb[5], (unsigned short)cdb[6], (unsigned short)cdb[7],
            (unsigned short)cdb[8], (unsigned short)cdb[9]);
        return DBGDEV_EXCHANGE_FAILURE;
    }
    if (status == nullptr) {
        return DBGDEV_OK;
    }
    // The status sits at the start of a byte buffer that need not be aligned for a 16-bit load.
    unsigned short word;
    std::memcpy(&word, status, sizeof word);
    // The rows are tested in this order.
    if (word == dravik::status::kOk) {
        return DBGDEV_OK;
    }
    if (word == dravik::status::kNoTargetDevice) {
        LogTrace("No target device detected: check JTAG signals");
        return DBGDEV_NO_TARGET;
    }
    if (word == dravik::status::kIdcodeError) {
        LogTrace("Error getting target IDCODE: if SWD, check SWD connection");
        return DBGDEV_NO_TARGET;
    }
    if (word == dravik::status::kUnknownJtagChain) {
        LogTrace("Unknown JTAG chain detected on target: check JTAG connection");
        return DBGDEV_UNKNOWN_JTAG_CHAIN;
    }
    if (word == dravik::status::kApInUse) {
        LogTrace("The selected Access Port is already in use");
        return DBGDEV_AP_IN_USE;
    }
    if (word == dravik::status::kApNewOwner) {
        LogTrace("The caller is becoming the new owner of trace Access Ports");
        return DBGDEV_AP_NEW_OWNER;
    }
    if (word == dravik::status::kApBadIndex) {
        LogTrace("Incorrect Access Port index");
        return DBGDEV_BAD_ARGUMENT;
    }
    if (dravik::status::IsApFault(word)) {
        LogTrace("Access Port fault: 0x%02hx", word);
        return DBGDEV_AP_FAULT;
    }
    if (dravik::status::IsTcpIdError(word)) {
        LogTrace("TCP ID error: 0x%02hx", word);
        return DBGDEV_TCP_ID_ERROR;
    }
    if (word == dravik::status::kSettingsChanged) {
        LogTrace(
            "Some Dravik settings have been automatically modified during the Dravik freq switch: "
            "0x%02hx",
            word);
        return DBGDEV_SETTINGS_CHANGED;
    }
    LogTrace(
        "Error (0x%hx) after target cmd %02hX %02hX %02hX %02hX %02hX %02hX %02hX %02hX %02hX "
        "%02hX",
        word, (unsigned short)cdb[0], (unsigned short)cdb[1], (unsigned short)cdb[2],
        (unsigned short)cdb[3], (unsigned short)cdb[4], (unsigned short)cdb[5],
        (unsigned short)cdb[6], (unsigned short)cdb[7], (unsigned short)cdb[8],
        (unsigned short)cdb[9]);
    return DBGDEV_PROBE_ERROR;
}

namespace dravik::detail {

int Send(DbgDev& dev, const ProbeCommand& command, const uint8_t* params, unsigned paramBytes,
         void* data, uint32_t length) {
    // One zero-filled heap record per exchange, freed on every path when this scope ends.
    std::unique_ptr<TDeviceRequest, FreeRecord> record(
        static_cast<TDeviceRequest*>(Allocate(1, sizeof(TDeviceRequest))));
    if (!record) {
        // An allocation failure is reported like a failed exchange: nothing reached the probe.
        dev.LogTrace("Unable to allocate a command record");
        return DBGDEV_EXCHANGE_FAILURE;
    }
    record->cdbLength = command.cdbLength;
    if (command.dir != Dir::TraceStream) {
        unsigned pos = 0;
        record->cdb[pos++] = command.cls;
        if (command.hasSub) {
            record->cdb[pos++] = command.sub;
        }
        std::memcpy(record->cdb + pos, params, paramBytes);
    }
    record->direction = static_cast<unsigned char>(command.dir);
    record->buffer = length == 0 ? nullptr : data;
    record->bufferLength = length;
    record->senseLength = kSenseLength;
    const unsigned short* status =
        command.statusWord ? static_cast<const unsigned short*>(data) : nullptr;
    return dev.SendRequestAndAnalyzeStatus(record.get(), status);
}

}  // namespace dravik::detail
