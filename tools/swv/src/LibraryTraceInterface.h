// The tool's TraceInterface over libDravikTrace.so.
#pragma once

#include "dravik/swv/TraceInterface.h"

namespace dravik::swv {

class LibraryTraceInterface final : public TraceInterface {
  public:
    bool has(EntryPoint entry) const override;
    int enumerateDevices(char* list, int* listSize, int* deviceCount) override;
    int selectDevice(const char* serialNumber, unsigned int flags, int* status) override;
    int runDevice(int* status) override;
    int blinkDebugger(const char* serialNumber) override;
    int closeDevice() override;
    int setupDevice(int traceClock, int prescaler, int stimulusMask, int txModeFlags,
                    int* fifoSize) override;
    int stopSwvRead() override;
    int readSwvData(char* buffer, int offset, int* length) override;
    int readMemory(unsigned int address, unsigned char* buffer, unsigned short size,
                   unsigned int* rwStatus) override;
    int lastError(char* message, int* length) override;
    int lastWarning(char* message, int* length) override;
    std::string currentStep() const override;
    int readDebugRegister(unsigned int address, unsigned int* value) override;
    int writeDebugRegister(unsigned int address, unsigned int value) override;
    void setLogSink(LogSink sink, void* context) override;
    const char* resultText(int code) const override;
};

}  // namespace dravik::swv
