#include "LibraryTraceInterface.h"

#include <cstring>

#include "DbgDev.h"
#include "DravikTrace.h"

// The exported C functions are bound weakly: a dravik-swv run against a libDravikTrace.so that
// predates one of them starts, and says which one is missing, instead of failing to load.
#pragma weak DravikEnumerateDevices
#pragma weak DravikSelectDevice
#pragma weak DravikRunDevice
#pragma weak DravikBlinkDebugger
#pragma weak DravikCloseDevice
#pragma weak DravikSetupDevice
#pragma weak DravikStopSWVRead
#pragma weak DravikReadSWVData
#pragma weak DravikReadMemory
#pragma weak DravikLastError
#pragma weak DravikLastWarning

namespace dravik::swv {

namespace {

// The result an absent function gives if it is called anyway: "not supported".
constexpr int kMissing = DBGDEV_NOT_SUPPORTED;

template <typename Function>
bool present(Function* function) {
    return function != nullptr;
}

}  // namespace

bool LibraryTraceInterface::has(EntryPoint entry) const {
    switch (entry) {
        case EntryPoint::EnumerateDevices:
            return present(&DravikEnumerateDevices);
        case EntryPoint::SelectDevice:
            return present(&DravikSelectDevice);
        case EntryPoint::RunDevice:
            return present(&DravikRunDevice);
        case EntryPoint::BlinkDebugger:
            return present(&DravikBlinkDebugger);
        case EntryPoint::CloseDevice:
            return present(&DravikCloseDevice);
        case EntryPoint::SetupDevice:
            return present(&DravikSetupDevice);
        case EntryPoint::StopSwvRead:
            return present(&DravikStopSWVRead);
        case EntryPoint::ReadSwvData:
            return present(&DravikReadSWVData);
        case EntryPoint::ReadMemory:
            return present(&DravikReadMemory);
        case EntryPoint::LastError:
            return present(&DravikLastError);
        case EntryPoint::LastWarning:
            return present(&DravikLastWarning);
    }
    return false;
}

int LibraryTraceInterface::enumerateDevices(char* list, int* listSize, int* deviceCount) {
    return present(&DravikEnumerateDevices)
               ? DravikEnumerateDevices(nullptr, list, listSize, deviceCount)
               : kMissing;
}

int LibraryTraceInterface::selectDevice(const char* serialNumber, unsigned int flags, int* status) {
    return present(&DravikSelectDevice) ? DravikSelectDevice(serialNumber, flags, status)
                                        : kMissing;
}

int LibraryTraceInterface::runDevice(int* status) {
    return present(&DravikRunDevice) ? DravikRunDevice(status) : kMissing;
}

int LibraryTraceInterface::blinkDebugger(const char* serialNumber) {
    return present(&DravikBlinkDebugger) ? DravikBlinkDebugger(serialNumber) : kMissing;
}

int LibraryTraceInterface::closeDevice() {
    return present(&DravikCloseDevice) ? DravikCloseDevice() : kMissing;
}

int LibraryTraceInterface::setupDevice(int traceClock, int prescaler, int stimulusMask,
                                       int txModeFlags, int* fifoSize) {
    return present(&DravikSetupDevice)
               ? DravikSetupDevice(traceClock, prescaler, stimulusMask, txModeFlags, fifoSize)
               : kMissing;
}

int LibraryTraceInterface::stopSwvRead() {
    return present(&DravikStopSWVRead) ? DravikStopSWVRead() : kMissing;
}

int LibraryTraceInterface::readSwvData(char* buffer, int offset, int* length) {
    return present(&DravikReadSWVData) ? DravikReadSWVData(buffer, offset, length) : kMissing;
}

int LibraryTraceInterface::readMemory(unsigned int address, unsigned char* buffer,
                                      unsigned short size, unsigned int* rwStatus) {
    return present(&DravikReadMemory) ? DravikReadMemory(address, buffer, size, rwStatus)
                                      : kMissing;
}

int LibraryTraceInterface::lastError(char* message, int* length) {
    return present(&DravikLastError) ? DravikLastError(message, length) : DRAVIK_NO_MESSAGE;
}

int LibraryTraceInterface::lastWarning(char* message, int* length) {
    return present(&DravikLastWarning) ? DravikLastWarning(message, length) : DRAVIK_NO_MESSAGE;
}

std::string LibraryTraceInterface::currentStep() const {
    return std::string(g_currentStep, strnlen(g_currentStep, sizeof g_currentStep));
}

int LibraryTraceInterface::readDebugRegister(unsigned int address, unsigned int* value) {
    DbgDev* dev = GetDbgDev();
    return dev == nullptr ? DRAVIK_NO_DEVICE_OBJECT : dev->ReadDebugRegister(address, value, 0);
}

int LibraryTraceInterface::writeDebugRegister(unsigned int address, unsigned int value) {
    DbgDev* dev = GetDbgDev();
    return dev == nullptr ? DRAVIK_NO_DEVICE_OBJECT : dev->WriteDebugRegister(address, value, 0);
}

void LibraryTraceInterface::setLogSink(LogSink sink, void* context) {
    // Turning the sink off is no reason to create a device object.
    if (DbgDev* dev = sink == nullptr ? g_dev : GetDbgDev()) {
        dev->SetLogSink(sink, context);
    }
}

const char* LibraryTraceInterface::resultText(int code) const {
    return DbgDev::ResultText(code);
}

}  // namespace dravik::swv
