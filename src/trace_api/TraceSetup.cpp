// DravikSetupDevice and its logging register helpers: DEMCR, ITM and TPIU programmed for SWO.
#include <cmath>

#include "DbgDev.h"
#include "InterfaceText.h"
#include "WireConstants.h"

namespace {

namespace cortexm = dravik::cortexm;
namespace itm = dravik::coresight::itm;
namespace tpiu = dravik::coresight::tpiu;

constexpr unsigned short kTraceBufferSize = DRAVIK_TRACE_BUFFER_SIZE;
constexpr int kLargestPrescaler = 65536;  // TPIU_ACPR holds prescaler - 1 in 16 bits

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
    // The probe cannot receive at a rate of 0 or below: refused before any traffic. A prescaler
    // outside 1..65536 is left to the TPIU_ACPR check below, which it fails.
    if (prescaler >= 1 && prescaler <= kLargestPrescaler && traceClock / prescaler <= 0) {
        dravik::SetText(g_errorMsg, "Unable to setup device, no SWO rate from %d / %d", traceClock,
                        prescaler);
        return DRAVIK_BAD_ARGUMENT;
    }
    DbgDev& dev = *devp;
    dravik::SetText(g_currentStep, "Enabling trace");
    int result = ReadWriteCheckDebugRegister(dev, cortexm::kDemcr, "CoreDebug_DEMCR",
                                             cortexm::demcr::kTrcena, cortexm::demcr::kTrcena);
    if (result != DRAVIK_OK) {
        return result;
    }
    dravik::SetText(g_currentStep, "Checking CoreSight access");
    unsigned lsr = 0;
    result = ReadDebugRegister(dev, itm::kLsr, "ITM_LSR", &lsr);
    if (result != DRAVIK_OK) {
        return result;
    }
    if (lsr != 1) {
        dravik::SetText(g_currentStep, "Trying to unlock CoreSight access");
        result = WriteDebugRegister(dev, itm::kLar, "ITM_LAR", dravik::coresight::kLockAccessKey);
        if (result != DRAVIK_OK) {
            return result;
        }
        result = ReadDebugRegister(dev, itm::kLsr, "ITM_LSR", &lsr);
        if (result != DRAVIK_OK) {
            return result;
        }
        if (lsr == 0) {
            dravik::SetText(g_errorMsg, "Unable to unlock ITM access");
            return DRAVIK_VERIFY_FAILED;
        }
    }
    unsigned type = 0;
    result = ReadDebugRegister(dev, tpiu::kType, "TPIU_TYPE", &type);
    if (result != DRAVIK_OK) {
        return result;
    }
    unsigned protocol = 0;
    if ((type & tpiu::kTypeNrz) != 0 && (txModeFlags & DRAVIK_TX_NRZ) != 0) {
        protocol = tpiu::kSpprNrz;
    }
    if ((type & tpiu::kTypeManchester) != 0 && (txModeFlags & DRAVIK_TX_MANCHESTER) != 0) {
        protocol = tpiu::kSpprManchester;  // Manchester wins when both are allowed and supported
    }
    if (protocol == 0) {
        dravik::SetText(g_errorMsg, "No TXMode selected, check flags");
        return DRAVIK_REFUSED;
    }
    const unsigned fifoField = type >> tpiu::kTypeFifoShift & tpiu::kTypeFifoMask;
    if (fifoField == 0) {
        dravik::SetText(g_errorMsg, "Unable to get FIFOSZ value");
        return DRAVIK_REFUSED;
    }
    *fifoSize = static_cast<int>(std::pow(2.0, static_cast<double>(fifoField)));
    result = ReadWriteCheckDebugRegister(dev, tpiu::kAcpr, "TPIU_ACPR", tpiu::kAcprMask,
                                         static_cast<unsigned>(prescaler) - 1u);
    if (result != DRAVIK_OK) {
        return result;
    }
    result = ReadWriteCheckDebugRegister(dev, tpiu::kSppr, "TPIU_SPPR", tpiu::kSpprMask, protocol);
    if (result != DRAVIK_OK) {
        return result;
    }
    unsigned privilege = 0;
    result = ReadDebugRegister(dev, itm::kTpr, "ITM_TPR", &privilege);
    if (result != DRAVIK_OK) {
        return result;
    }
    const unsigned ports = static_cast<unsigned>(stimulusMask);
    result = ReadWriteCheckDebugRegister(dev, itm::kTer0, "ITM_TER0", ports, ports);
    if (result != DRAVIK_OK) {
        return result;
    }
    result =
        ReadWriteCheckDebugRegister(dev, itm::kTcr, "ITM_TCR", itm::kTcrSetupMask, itm::kTcrItmEna);
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
