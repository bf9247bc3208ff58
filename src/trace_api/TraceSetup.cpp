// DravikSetupDevice and its logging register helpers: DEMCR, ITM and TPIU programmed for SWO.
#include <cmath>

#include "DbgDev.h"
#include "InterfaceText.h"

namespace {

constexpr unsigned kDemcr = 0xE000EDFC;
constexpr unsigned kItmLsr = 0xE0000FB4;
constexpr unsigned kItmLar = 0xE0000FB0;
constexpr unsigned kTpiuType = 0xE0040FC8;
constexpr unsigned kTpiuAcpr = 0xE0040010;
constexpr unsigned kTpiuSppr = 0xE00400F0;
constexpr unsigned kItmTpr = 0xE0000E40;
constexpr unsigned kItmTer0 = 0xE0000E00;
constexpr unsigned kItmTcr = 0xE0000E80;

constexpr unsigned kTrcena = 0x01000000;
constexpr unsigned kCoreSightKey = 0xC5ACCE55;
constexpr unsigned kTpiuTypeNrz = 1u << 11;
constexpr unsigned kTpiuTypeManchester = 1u << 10;
constexpr unsigned kProtocolManchester = 1;
constexpr unsigned kProtocolNrz = 2;
constexpr unsigned kItmTcrMask = 0xA1F;  // ITMENA..SWOENA, bits 9 and 11
constexpr unsigned kItmEna = 1;
constexpr unsigned short kTraceBufferSize = DRAVIK_TRACE_BUFFER_SIZE;

}  // namespace

int ReadDebugRegister(DbgDev& dev, unsigned int address, const char* name, unsigned int* value) {
    dravik::SetText(g_currentStep, "Reading register %s", name);
    const int result = dev.ReadDebugRegister(address, value, 0);
    if (result != DBGDEV_OK) {
        dravik::SetText(g_errorMsg, "Unable to read %s register, status: %d", name, result);
    }
    return result;
}

int WriteDebugRegister(DbgDev& dev, unsigned int address, const char* name, unsigned int value) {
    dravik::SetText(g_currentStep, "Writing register %s", name);
    const int result = dev.WriteDebugRegister(address, value, 0);
    if (result != DBGDEV_OK) {
        dravik::SetText(g_errorMsg, "Unable to write %s register, status: %d", name, result);
    }
    return result;
}

int ReadWriteCheckDebugRegister(DbgDev& dev, unsigned int address, const char* name,
                                unsigned int mask, unsigned int value) {
    unsigned current = 0;
    int result = ReadDebugRegister(dev, address, name, &current);
    if (result != DBGDEV_OK) {
        return result;
    }
    // An addition, which equals an OR while `value` lies inside `mask`.
    result = WriteDebugRegister(dev, address, name, (current & ~mask) + value);
    if (result != DBGDEV_OK) {
        return result;
    }
    result = ReadDebugRegister(dev, address, name, &current);
    if (result != DBGDEV_OK) {
        return result;
    }
    dravik::SetText(g_currentStep, "Verifying written register %s", name);
    if ((current & mask) == value) {
        return DRAVIK_OK;
    }
    dravik::SetText(g_errorMsg, "Unable to verify %s register, expected: %u, got: %u", name, value,
                    current & mask);
    return DRAVIK_VERIFY_FAILED;
}

extern "C" DRAVIK_API int DravikSetupDevice(int traceClock, int prescaler, int stimulusMask,
                                            int txModeFlags, int* fifoSize) {
    DbgDev* devp = dravik::BeginCall("DravikSetupDevice");
    if (devp == nullptr) {
        return DRAVIK_NO_DEVICE_OBJECT;
    }
    if (fifoSize == nullptr) {
        dravik::SetText(g_errorMsg, "Unable to setup device, null fifoSize");
        return DRAVIK_BAD_ARGUMENT;
    }
    DbgDev& dev = *devp;
    dravik::SetText(g_currentStep, "Enabling trace");
    int result = ReadWriteCheckDebugRegister(dev, kDemcr, "CoreDebug_DEMCR", kTrcena, kTrcena);
    if (result != DRAVIK_OK) {
        return result;
    }
    dravik::SetText(g_currentStep, "Checking CoreSight access");
    unsigned lsr = 0;
    result = ReadDebugRegister(dev, kItmLsr, "ITM_LSR", &lsr);
    if (result != DRAVIK_OK) {
        return result;
    }
    if (lsr != 1) {
        dravik::SetText(g_currentStep, "Trying to unlock CoreSight access");
        result = WriteDebugRegister(dev, kItmLar, "ITM_LAR", kCoreSightKey);
        if (result != DRAVIK_OK) {
            return result;
        }
        result = ReadDebugRegister(dev, kItmLsr, "ITM_LSR", &lsr);
        if (result != DRAVIK_OK) {
            return result;
        }
        if (lsr == 0) {
            dravik::SetText(g_errorMsg, "Unable to unlock ITM access");
            return DRAVIK_VERIFY_FAILED;
        }
    }
    unsigned type = 0;
    result = ReadDebugRegister(dev, kTpiuType, "TPIU_TYPE", &type);
    if (result != DRAVIK_OK) {
        return result;
    }
    unsigned protocol = 0;
    if ((type & kTpiuTypeNrz) != 0 && (txModeFlags & DRAVIK_TX_NRZ) != 0) {
        protocol = kProtocolNrz;
    }
    if ((type & kTpiuTypeManchester) != 0 && (txModeFlags & DRAVIK_TX_MANCHESTER) != 0) {
        protocol = kProtocolManchester;  // Manchester wins when both are allowed and supported
    }
    if (protocol == 0) {
        dravik::SetText(g_errorMsg, "No TXMode selected, check flags");
        return DRAVIK_REFUSED;
    }
    const unsigned fifoField = type >> 6 & 0x7;
    if (fifoField == 0) {
        dravik::SetText(g_errorMsg, "Unable to get FIFOSZ value");
        return DRAVIK_REFUSED;
    }
    *fifoSize = static_cast<int>(std::pow(2.0, static_cast<double>(fifoField)));
    result = ReadWriteCheckDebugRegister(dev, kTpiuAcpr, "TPIU_ACPR", 0xFFFF,
                                         static_cast<unsigned>(prescaler) - 1u);
    if (result != DRAVIK_OK) {
        return result;
    }
    result = ReadWriteCheckDebugRegister(dev, kTpiuSppr, "TPIU_SPPR", 0x3, protocol);
    if (result != DRAVIK_OK) {
        return result;
    }
    unsigned privilege = 0;
    result = ReadDebugRegister(dev, kItmTpr, "ITM_TPR", &privilege);
    if (result != DRAVIK_OK) {
        return result;
    }
    const unsigned ports = static_cast<unsigned>(stimulusMask);
    result = ReadWriteCheckDebugRegister(dev, kItmTer0, "ITM_TER0", ports, ports);
    if (result != DRAVIK_OK) {
        return result;
    }
    result = ReadWriteCheckDebugRegister(dev, kItmTcr, "ITM_TCR", kItmTcrMask, kItmEna);
    if (result != DRAVIK_OK) {
        return result;
    }
    // A prescaler outside 1..65536 fails the TPIU_ACPR check above, so this divides safely.
    const int swoRate = traceClock / prescaler;
    dravik::SetText(g_currentStep, "Starting SWV Trace Reception");
    result = dev.StartSWVTraceReception(static_cast<unsigned>(swoRate), kTraceBufferSize);
    if (result != DBGDEV_OK) {
        dravik::SetText(g_errorMsg, "Unable to start SWV Trace Reception, status: %d", result);
        return result;
    }
    return DRAVIK_OK;
}
