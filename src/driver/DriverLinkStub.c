/* Link-time stand-in for the driver library in builds without the bench: libDravikTrace.so needs
 * libDravikUSBDriver.so by file name, and the linker resolves the 13 calls here. It is never
 * installed; at run time the real driver library (or the bench) answers. Every call fails. */
#include "DravikUSBDriver.h"

enum { kNotDone = 0 };

unsigned int Dravik_Reenumerate(TEnumDravikInterface iface, unsigned char option) {
    (void)iface;
    (void)option;
    return kNotDone;
}

unsigned int Dravik_ReenumerateTcp(TEnumDravikInterface iface, unsigned char option,
                                   const char* serverAddress, const char* serverArgs) {
    (void)iface;
    (void)option;
    (void)serverAddress;
    (void)serverArgs;
    return kNotDone;
}

unsigned int Dravik_GetNbDevices(TEnumDravikInterface iface) {
    (void)iface;
    return 0;
}

unsigned int Dravik_GetDeviceInfo2(TEnumDravikInterface iface, unsigned char index,
                                   TDeviceInfo2* info, unsigned int size) {
    (void)iface;
    (void)index;
    (void)info;
    (void)size;
    return kNotDone;
}

unsigned int Dravik_GetDeviceInfo(TEnumDravikInterface iface, unsigned char index,
                                  TDeviceInfo* info, unsigned int size) {
    (void)iface;
    (void)index;
    (void)info;
    (void)size;
    return kNotDone;
}

unsigned int Dravik_OpenDevice(TEnumDravikInterface iface, unsigned char index,
                               unsigned char exclusive, void** handle) {
    (void)iface;
    (void)index;
    (void)exclusive;
    (void)handle;
    return kNotDone;
}

unsigned int Dravik_OpenDeviceTcp(TEnumDravikInterface iface, unsigned int deviceId,
                                  unsigned char exclusive) {
    (void)iface;
    (void)deviceId;
    (void)exclusive;
    return kNotDone;
}

unsigned int Dravik_SendCommand(void* handle, TDeviceRequest* request, unsigned int timeoutMs) {
    (void)handle;
    (void)request;
    (void)timeoutMs;
    return kNotDone;
}

unsigned int Dravik_SendCommandTcp(unsigned int deviceId, TDeviceRequest* request,
                                   unsigned int timeoutMs) {
    (void)deviceId;
    (void)request;
    (void)timeoutMs;
    return kNotDone;
}

unsigned int Dravik_GetNumOfDeviceClientsTcp(unsigned int deviceId) {
    (void)deviceId;
    return 0;
}

unsigned int Dravik_CloseDevice(void* handle) {
    (void)handle;
    return kNotDone;
}

unsigned int Dravik_CloseDeviceTcp(unsigned int deviceId, unsigned char option) {
    (void)deviceId;
    (void)option;
    return kNotDone;
}

void Dravik_FreeLibrary(void) {}
