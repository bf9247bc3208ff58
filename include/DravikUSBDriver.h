/* The probe driver library's calls and records. The system links against any library that offers
 * these 13 calls with exactly these names and types; the records are binary contracts with it. */
#ifndef DRAVIK_USB_DRIVER_H
#define DRAVIK_USB_DRIVER_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Interface kind: 2 reaches probes through the TCP probe server; every other value is a USB
 * interface and is passed through unchanged. */
typedef enum TEnumDravikInterface {
    DRAVIK_USB_INTERFACE = 0,
    DRAVIK_USB_INTERFACE_ALT = 1,
    DRAVIK_TCP_INTERFACE = 2,
    DRAVIK_INTERFACE_FORCE_32BIT = 0x7FFFFFFF
} TEnumDravikInterface;

/* Driver library results: 1 is success. */
#define DRAVIK_DRV_OK 1u
#define DRAVIK_DRV_NOT_SUPPORTED_PLATFORM 0x1054u
#define DRAVIK_DRV_NO_PERMISSION 0x1055u
#define DRAVIK_DRV_TCP_ERROR_1 0x2001u
#define DRAVIK_DRV_TCP_ERROR_2 0x2002u

/* Data phase direction of a command record. */
#define DRAVIK_DIR_TO_PROBE 0u
#define DRAVIK_DIR_FROM_PROBE 1u
#define DRAVIK_DIR_TRACE_STREAM 3u

#pragma pack(push, 1)
typedef struct TDeviceRequest {
    unsigned char cdbLength;   /* 10 for commands, 0 for the trace read and a few debug commands */
    unsigned char cdb[16];     /* class, sub-command, parameters (little-endian) */
    unsigned char direction;   /* DRAVIK_DIR_* */
    void* buffer;              /* answer buffer, or data to send */
    unsigned int bufferLength; /* bytes to move */
    unsigned char senseLength; /* always 14 */
    unsigned char sense[16];   /* zero on sending, never read */
} TDeviceRequest;

typedef struct TDeviceInfo2 {
    unsigned int deviceId;    /* on TCP, the id used to open, send, close and count clients */
    char serialNumber[32];    /* NUL-terminated when the driver library terminates it */
    unsigned short vendorId;  /* first 16-bit identifier */
    unsigned short productId; /* second 16-bit identifier */
    unsigned char reserved;
} TDeviceInfo2;

typedef struct TDeviceInfo {
    unsigned char reserved[32768];
    char serialNumber[32];
    unsigned short vendorId;
    unsigned short productId;
    unsigned char reserved2;
} TDeviceInfo;
#pragma pack(pop)

/* The layouts are pinned wherever the language has a static assertion (C++11, C11). */
#if defined(__cplusplus) && __cplusplus >= 201103L
static_assert(sizeof(TEnumDravikInterface) == 4, "32-bit enumeration");
static_assert(sizeof(TDeviceRequest) == 47, "command record");
static_assert(offsetof(TDeviceRequest, cdb) == 1, "cdb");
static_assert(offsetof(TDeviceRequest, direction) == 17, "direction");
static_assert(offsetof(TDeviceRequest, buffer) == 18, "buffer");
static_assert(offsetof(TDeviceRequest, bufferLength) == 26, "bufferLength");
static_assert(offsetof(TDeviceRequest, senseLength) == 30, "senseLength");
static_assert(offsetof(TDeviceRequest, sense) == 31, "sense");
static_assert(sizeof(TDeviceInfo2) == 41, "description record");
static_assert(offsetof(TDeviceInfo2, serialNumber) == 4, "serial");
static_assert(offsetof(TDeviceInfo2, vendorId) == 36, "first identifier");
static_assert(offsetof(TDeviceInfo2, productId) == 38, "second identifier");
static_assert(sizeof(TDeviceInfo) == 32805, "long description record");
static_assert(offsetof(TDeviceInfo, serialNumber) == 32768, "serial");
static_assert(offsetof(TDeviceInfo, vendorId) == 32800, "first identifier");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(TDeviceRequest) == 47, "command record");
_Static_assert(sizeof(TDeviceInfo2) == 41, "description record");
_Static_assert(sizeof(TDeviceInfo) == 32805, "long description record");
#endif

#if defined(DRAVIK_DRIVER_BUILD)
#define DRAVIK_DRIVER_API __attribute__((visibility("default")))
#else
#define DRAVIK_DRIVER_API
#endif

DRAVIK_DRIVER_API unsigned int Dravik_Reenumerate(TEnumDravikInterface iface, unsigned char option);
DRAVIK_DRIVER_API unsigned int Dravik_ReenumerateTcp(TEnumDravikInterface iface,
                                                     unsigned char option,
                                                     const char* serverAddress,
                                                     const char* serverArgs);
DRAVIK_DRIVER_API unsigned int Dravik_GetNbDevices(TEnumDravikInterface iface);
DRAVIK_DRIVER_API unsigned int Dravik_GetDeviceInfo2(TEnumDravikInterface iface,
                                                     unsigned char index, TDeviceInfo2* info,
                                                     unsigned int size);
DRAVIK_DRIVER_API unsigned int Dravik_GetDeviceInfo(TEnumDravikInterface iface, unsigned char index,
                                                    TDeviceInfo* info, unsigned int size);
DRAVIK_DRIVER_API unsigned int Dravik_OpenDevice(TEnumDravikInterface iface, unsigned char index,
                                                 unsigned char exclusive, void** handle);
DRAVIK_DRIVER_API unsigned int Dravik_OpenDeviceTcp(TEnumDravikInterface iface,
                                                    unsigned int deviceId, unsigned char exclusive);
DRAVIK_DRIVER_API unsigned int Dravik_SendCommand(void* handle, TDeviceRequest* request,
                                                  unsigned int timeoutMs);
DRAVIK_DRIVER_API unsigned int Dravik_SendCommandTcp(unsigned int deviceId, TDeviceRequest* request,
                                                     unsigned int timeoutMs);
DRAVIK_DRIVER_API unsigned int Dravik_GetNumOfDeviceClientsTcp(unsigned int deviceId);
DRAVIK_DRIVER_API unsigned int Dravik_CloseDevice(void* handle);
DRAVIK_DRIVER_API unsigned int Dravik_CloseDeviceTcp(unsigned int deviceId, unsigned char option);
DRAVIK_DRIVER_API void Dravik_FreeLibrary(void);

#ifdef __cplusplus
}
#endif

#endif
