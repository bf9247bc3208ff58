// Trace streaming (start, stop, drain) and the aligned memory read.
#include <climits>

#include "DbgDev.h"
#include "InterfaceText.h"

namespace {

constexpr unsigned short kTraceBufferSize = DRAVIK_TRACE_BUFFER_SIZE;

// Drops `count` pending bytes through g_dummyBuffer, never more than it holds at a time.
void DiscardPending(DbgDev& dev, unsigned count) {
    while (count > 0) {
        const unsigned piece = count < sizeof g_dummyBuffer ? count : sizeof g_dummyBuffer;
        if (dev.GetSWVTraceRecords(reinterpret_cast<unsigned char*>(g_dummyBuffer),
                                   static_cast<unsigned short>(piece)) != DBGDEV_OK) {
            return;  // the data are lost either way; the next poll starts afresh
        }
        count -= piece;
    }
}

}  // namespace

extern "C" DRAVIK_API int DravikStartSWVRead(int traceClock, int prescaler) {
    DbgDev* dev = dravik::BeginCall("DravikStartSWVRead");
    if (dev == nullptr) {
        return DRAVIK_NO_DEVICE_OBJECT;
    }
    // A zero divider, or INT_MIN / -1, has no result: refuse before dividing.
    if (prescaler == 0 || (traceClock == INT_MIN && prescaler == -1)) {
        dravik::SetText(g_errorMsg, "Unable to start SWV Trace Reception, bad prescaler: %d",
                        prescaler);
        return DRAVIK_BAD_ARGUMENT;
    }
    const int swoRate = traceClock / prescaler;
    // A rate of 0 or below would reach the probe as a huge unsigned one.
    if (swoRate <= 0) {
        dravik::SetText(g_errorMsg, "Unable to start SWV Trace Reception, no SWO rate from %d / %d",
                        traceClock, prescaler);
        return DRAVIK_BAD_ARGUMENT;
    }
    dravik::SetText(g_currentStep, "Starting SWV Trace Reception");
    const int result =
        dev->StartSWVTraceReception(static_cast<unsigned>(swoRate), kTraceBufferSize);
    if (result != DBGDEV_OK) {
        dravik::SetText(g_errorMsg, "Unable to start SWV Trace Reception, status: %d", result);
        return result;
    }
    return DRAVIK_OK;
}

extern "C" DRAVIK_API int DravikStopSWVRead(void) {
    DbgDev* dev = dravik::BeginCall("DravikStopSWVRead");
    if (dev == nullptr) {
        return DRAVIK_NO_DEVICE_OBJECT;
    }
    dravik::SetText(g_currentStep, "Stop SWV Trace Reception");
    const int result = dev->StopSWVTraceReception();
    if (result != DBGDEV_OK) {
        dravik::SetText(g_errorMsg, "Unable to stop SWV Trace Reception, status: %d", result);
        return result;
    }
    return DRAVIK_OK;
}

extern "C" DRAVIK_API int DravikReadSWVData(char* buffer, int offset, int* length) {
    DbgDev* dev = dravik::BeginCall("DravikReadSWVData");
    if (dev == nullptr) {
        return DRAVIK_NO_DEVICE_OBJECT;
    }
    // Checked before any probe traffic, so a bad call never costs trace data.
    if (buffer == nullptr || length == nullptr || offset < 0) {
        dravik::SetText(g_errorMsg, "Unable to read SWV data, %s",
                        buffer == nullptr   ? "null buffer"
                        : length == nullptr ? "null length"
                                            : "negative offset");
        return DRAVIK_BAD_ARGUMENT;
    }
    dravik::SetText(g_currentStep, "Reading SWV Data");
    unsigned short count = 0;
    int result = dev->GetSWVTraceNewRecordNb(&count);
    if (result != DBGDEV_OK) {
        dravik::SetText(g_warningMsg, "Unable to read SWV record size, status: %d", result);
        return result;
    }
    if (count == 0) {
        dravik::SetText(g_currentStep, "No SWV records");
        *length = 0;
        return DRAVIK_OK;
    }
    // In 64 bits: a large offset must not wrap the free space into a positive number.
    if (static_cast<long long>(count) > static_cast<long long>(*length) - offset) {
        dravik::SetText(g_errorMsg, "Buffer is too small, data is lost");
        DiscardPending(*dev, count);
        return DRAVIK_REFUSED;
    }
    result = dev->GetSWVTraceRecords(reinterpret_cast<unsigned char*>(buffer) + offset, count);
    *length = count;
    if (result != DBGDEV_OK) {
        dravik::SetText(g_errorMsg, "Unable to read SWV records, status: %d", result);
        return result;
    }
    return DRAVIK_OK;
}

extern "C" DRAVIK_API int DravikReadMemory(unsigned int address, unsigned char* buffer,
                                           unsigned short size, unsigned int* rwStatus) {
    DbgDev* dev = dravik::BeginCall("DravikReadMemory");
    if (dev == nullptr) {
        return DRAVIK_NO_DEVICE_OBJECT;
    }
    if (address % 4 != 0) {
        dravik::SetText(g_errorMsg, "Unable to read memory, address must be 4-byte aligned");
        return DRAVIK_BAD_ARGUMENT;
    }
    if (size % 4 != 0) {
        dravik::SetText(g_errorMsg, "Unable to read memory, buffer must be 4-byte aligned");
        return DRAVIK_BAD_ARGUMENT;
    }
    dravik::SetText(g_currentStep, "Reading memory");
    const int result = dev->ReadMemory_32Bit(address, buffer, size, rwStatus, 0);
    if (result != DBGDEV_OK) {
        dravik::SetText(g_errorMsg, "Unable to read memory, status: %d", result);
        return result;
    }
    return DRAVIK_OK;
}
