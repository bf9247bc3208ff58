// Target selection, run and release.
#include <cstdlib>
#include <cstring>
#include <new>

#include "Allocation.h"
#include "DbgDev.h"
#include "InterfaceText.h"

namespace {

constexpr unsigned kFlagReset = DRAVIK_SELECT_RESET;
constexpr unsigned kFlagAllowOld = DRAVIK_SELECT_ALLOW_OLD;
constexpr unsigned kFlagStrict = DRAVIK_SELECT_STRICT;
constexpr int kCurrentGeneration = 3;

}  // namespace

int ReadDeviceStatus(DbgDev* dev, int* status) {
    dravik::SetText(g_currentStep, "Read device status");
    // Guards the host's pointers: a null status or object must not reach the probe code.
    if (dev == nullptr || status == nullptr) {
        dravik::SetText(g_errorMsg, "Unable to read device status");
        return DRAVIK_BAD_ARGUMENT;
    }
    Device_StatusT state = DEVICE_RUNNING;
    const int result = dev->GetStatus(&state, 0);
    if (result != DBGDEV_OK) {
        dravik::SetText(g_errorMsg, "Unable to read device status");
        return result;
    }
    *status = static_cast<int>(state);
    return result;
}

extern "C" DRAVIK_API int DravikSelectDevice(const char* serialNumber, unsigned int flags,
                                             int* status) {
    DbgDev* dev = dravik::BeginCall("DravikSelectDevice");
    if (dev == nullptr) {
        return DRAVIK_NO_DEVICE_OBJECT;
    }
    // A null serial number would reach a comparison and a format: refuse it first.
    if (serialNumber == nullptr || status == nullptr) {
        dravik::SetText(g_errorMsg, "Unable to select device, null %s",
                        serialNumber == nullptr ? "serial number" : "status");
        return DRAVIK_BAD_ARGUMENT;
    }
    if (g_currentDevice != nullptr) {
        if (std::strcmp(g_currentDevice, serialNumber) == 0) {
            dravik::SetText(g_warningMsg, "This device is already selected, call ignored");
            return DRAVIK_IGNORED;
        }
        dravik::SetText(g_errorMsg, "Another device is already selected, disconnect first");
        return DRAVIK_REFUSED;
    }
    dravik::SetText(g_currentStep, "Open Dravik");
    int result = dev->OpenDravik(nullptr, serialNumber, static_cast<int>(flags & kFlagStrict));
    if (result != DBGDEV_OK) {
        dravik::SetText(g_errorMsg, "Unable to open Dravik for device %s", serialNumber);
        return result;
    }
    dravik::SetText(g_currentStep, "Open Target");
    result = dev->OpenTarget(1, 0, 0, 0, 1);
    if (result != DBGDEV_OK) {
        dravik::SetText(g_errorMsg, "Unable to open device %s", serialNumber);
        return result;
    }
    dravik::SetText(g_currentStep, "Read generation");
    const int generation = dev->GetDravikGeneration();
    if (generation < kCurrentGeneration && (flags & kFlagAllowOld) == 0) {
        dravik::SetText(g_errorMsg, "Generation of device %s is too old, expecting 3 but got %d",
                        serialNumber, generation);
        return DRAVIK_REFUSED;
    }
    if ((flags & kFlagReset) != 0) {
        dravik::SetText(g_currentStep, "Resetting");
        result = dev->Reset(0, 0, 1);
        if (result != DBGDEV_OK) {
            dravik::SetText(g_errorMsg, "Unable to reset device %s", serialNumber);
            return result;
        }
    }
    result = ReadDeviceStatus(g_dev, status);
    if (result == DBGDEV_OK) {
        const size_t length = std::strlen(serialNumber);
        char* copy = static_cast<char*>(dravik::Allocate(length + 1, 1));
        if (copy == nullptr) {
            // Not recorded, and said so. Target and probe are closed again, so that 303 keeps
            // meaning that nothing was done and a new selection can open the probe.
            dev->CloseDevice(0);
            dravik::SetText(g_errorMsg, "Unable to record the selection of device %s",
                            serialNumber);
            return DRAVIK_NO_DEVICE_OBJECT;
        }
        std::memcpy(copy, serialNumber, length + 1);
        std::free(g_currentDevice);
        g_currentDevice = copy;
    }
    return result;
}

extern "C" DRAVIK_API int DravikGetDeviceStatus(int* status) {
    DbgDev* dev = dravik::BeginCall("DravikGetDeviceStatus");
    if (dev == nullptr) {
        return DRAVIK_NO_DEVICE_OBJECT;
    }
    return ReadDeviceStatus(g_dev, status);
}

extern "C" DRAVIK_API int DravikRunDevice(int* status) {
    DbgDev* dev = dravik::BeginCall("DravikRunDevice");
    if (dev == nullptr) {
        return DRAVIK_NO_DEVICE_OBJECT;
    }
    // Refused before the core runs: a call that fails must not have let the target go.
    if (status == nullptr) {
        dravik::SetText(g_errorMsg, "Unable to run device, null status");
        return DRAVIK_BAD_ARGUMENT;
    }
    dravik::SetText(g_currentStep, "Run device");
    const int result = dev->RunCore(0, 0);
    if (result != DBGDEV_OK) {
        dravik::SetText(g_errorMsg, "Unable to run device, status: %d", result);
        return result;
    }
    return ReadDeviceStatus(g_dev, status);
}

extern "C" DRAVIK_API int DravikBlinkDebugger(const char* serialNumber) {
    DbgDev* dev = dravik::BeginCall("DravikBlinkDebugger");
    if (dev == nullptr) {
        return DRAVIK_NO_DEVICE_OBJECT;
    }
    if (g_currentDevice != nullptr) {
        dravik::SetText(g_currentStep, "Using current device, ignoring argument");
        const int result = dev->BlinkDravikLed();
        if (result != DBGDEV_OK) {
            dravik::SetText(g_currentStep, "Unable to blink led for current device");
        }
        return result;
    }
    if (serialNumber == nullptr) {
        dravik::SetText(g_errorMsg, "Unable to blink, null serial number");
        return DRAVIK_BAD_ARGUMENT;
    }
    int result = dev->OpenDravik(nullptr, serialNumber, 1);
    if (result != DBGDEV_OK) {
        dravik::SetText(g_errorMsg, "Unable to open Dravik for device %s", serialNumber);
        return result;
    }
    result = dev->BlinkDravikLed();
    if (result != DBGDEV_OK) {
        dravik::SetText(g_currentStep, "Unable to blink led for selected device");
    }
    (void)dev->CloseDravik();
    return result;
}

extern "C" DRAVIK_API int DravikCloseDevice(void) {
    ResetLog();
    dravik::SetText(g_currentStep, "DravikCloseDevice - Called");
    std::free(g_currentDevice);
    g_currentDevice = nullptr;
    if (g_dev == nullptr) {
        dravik::SetText(g_warningMsg, "No device connected");
        return DRAVIK_IGNORED;
    }
    g_dev->CloseDevice(0);
    const int s = g_dev->CloseDravik();
    if (s != DBGDEV_OK) {
        dravik::SetText(g_warningMsg, "Unable to close dravik, status: %d", s);
    }
    delete g_dev;  // the destructor closes again and releases the driver library
    g_dev = nullptr;
    return DRAVIK_OK;
}
