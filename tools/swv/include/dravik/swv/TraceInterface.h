// The calls the tool makes into libDravikTrace.so: the exported C functions, and register access
// and diagnostics through the device object GetDbgDev() returns. Commands talk to this interface
// only, so they run against the library in the tool and against a scripted probe in tests.
#pragma once

#include <string>

namespace dravik::swv {

// Exported functions the commands need; a library built before one existed lacks it.
enum class EntryPoint {
    EnumerateDevices,
    SelectDevice,
    RunDevice,
    BlinkDebugger,
    CloseDevice,
    SetupDevice,
    StopSwvRead,
    ReadSwvData,
    ReadMemory,
    LastError,
    LastWarning,
};

const char* entryPointName(EntryPoint entry) noexcept;

// Receives each diagnostic text of the device object.
using LogSink = void (*)(void* context, const char* text);

class TraceInterface {
  public:
    virtual ~TraceInterface() = default;

    // Whether the loaded library provides the function.
    virtual bool has(EntryPoint entry) const = 0;

    // The exported C functions, with their arguments and results unchanged.
    virtual int enumerateDevices(char* list, int* listSize, int* deviceCount) = 0;
    virtual int selectDevice(const char* serialNumber, unsigned int flags, int* status) = 0;
    virtual int runDevice(int* status) = 0;
    virtual int blinkDebugger(const char* serialNumber) = 0;
    virtual int closeDevice() = 0;
    virtual int setupDevice(int traceClock, int prescaler, int stimulusMask, int txModeFlags,
                            int* fifoSize) = 0;
    virtual int stopSwvRead() = 0;
    virtual int readSwvData(char* buffer, int offset, int* length) = 0;
    virtual int readMemory(unsigned int address, unsigned char* buffer, unsigned short size,
                           unsigned int* rwStatus) = 0;
    virtual int lastError(char* message, int* length) = 0;
    virtual int lastWarning(char* message, int* length) = 0;
    // g_currentStep as the last call left it.
    virtual std::string currentStep() const = 0;

    // DbgDev::ReadDebugRegister / WriteDebugRegister on access port 0 of the device object;
    // DbgDev result codes.
    virtual int readDebugRegister(unsigned int address, unsigned int* value) = 0;
    virtual int writeDebugRegister(unsigned int address, unsigned int value) = 0;
    // DbgDev::SetLogSink on the device object (created if needed); null turns it off (on the
    // object there is, if any).
    virtual void setLogSink(LogSink sink, void* context) = 0;
    // DbgDev::ResultText.
    virtual const char* resultText(int code) const = 0;
};

}  // namespace dravik::swv
