/* The trace capture interface of libDravikTrace.so: list the probes, select one and connect to its
 * target, set up SWO trace, let the target run, drain the raw SWV byte stream, read memory, blink a
 * probe's LED and fetch the last error and warning texts.
 *
 * Every function returns an int result: 0 for success, or one of the codes below, or a DbgDev
 * result passed through unchanged (see DbgDev.h). Each call (but the two copy-out functions) first
 * clears the three text buffers and names itself in g_currentStep. Calls must not overlap: the
 * library is single-threaded and takes no lock.
 */
#ifndef DRAVIK_TRACE_H
#define DRAVIK_TRACE_H

#include "DravikExport.h"

/* Result codes of the interface itself (DbgDev codes pass through). */
#define DRAVIK_OK 0
#define DRAVIK_NO_MESSAGE 1 /* copy-out: no message to copy */
#define DRAVIK_IGNORED (-1) /* already selected / no device / message cut */
#define DRAVIK_ENUMERATION_FAILED 10
#define DRAVIK_BAD_ARGUMENT 20  /* also: memory address or size not a multiple of 4 */
#define DRAVIK_VERIFY_FAILED 28 /* a register did not take its value; ITM stays locked */
#define DRAVIK_NO_DEVICE_OBJECT 303
#define DRAVIK_REFUSED 403

#define DRAVIK_TEXT_SIZE 256
#define DRAVIK_TRACE_BUFFER_SIZE 4000

/* DravikSelectDevice flags */
#define DRAVIK_SELECT_RESET 1u     /* reset the target once more after connecting */
#define DRAVIK_SELECT_ALLOW_OLD 2u /* accept a probe of generation 2 or lower */
#define DRAVIK_SELECT_STRICT 4u    /* the serial number must match */

/* DravikSetupDevice transmit-mode flags */
#define DRAVIK_TX_NRZ 1
#define DRAVIK_TX_MANCHESTER 2

#ifdef __cplusplus
extern "C" {
#endif

/* Process-wide state; a host may read the text buffers directly. */
DRAVIK_API extern char* g_currentDevice; /* serial number of the selection, or null */
DRAVIK_API extern char g_currentStep[DRAVIK_TEXT_SIZE]; /* the step under way / last step reached */
DRAVIK_API extern char g_warningMsg[DRAVIK_TEXT_SIZE];  /* last warning of the current call */
DRAVIK_API extern char g_errorMsg[DRAVIK_TEXT_SIZE];    /* last error of the current call */
DRAVIK_API extern char g_dummyBuffer[DRAVIK_TRACE_BUFFER_SIZE]; /* sink for discarded trace bytes */

/* Copies the last error text out. *length in: characters the host can take (message must hold
 * *length + 1 bytes); out: characters copied. Returns 0, 1 (no message), -1 (cut; *length
 * unchanged) or 20 (null pointer or negative *length: nothing copied). No probe traffic. */
DRAVIK_API int DravikLastError(char* message, int* length);
/* Same for the last warning text. */
DRAVIK_API int DravikLastWarning(char* message, int* length);

/* Enumerates the probes afresh and writes one "%s\t%d\t%d\n" line per probe (serial number, second
 * and first identifier) into list. *listSize in: capacity; out: characters written. *deviceCount
 * out: lines written. Returns 0, -k (k probes left out), 10 (enumeration failed), 20 (null
 * pointer), 303. Talks to the driver library (enumeration and description records only). */
DRAVIK_API int DravikEnumerateDevices(const char* driverPath, char* list, int* listSize,
                                      int* deviceCount);

/* Opens the probe with this serial number, connects to its target (SWD, halt and reset), refuses a
 * probe of generation 2 or lower unless flags has DRAVIK_SELECT_ALLOW_OLD, optionally resets once
 * more, stores the core status (Device_StatusT as int) in *status and records the selection.
 * Returns 0, -1 (this probe is already selected), 20 (null pointer), 303 (no device object, or the
 * selection could not be recorded: target and probe are closed again), 403 (another probe
 * selected, generation too old) or a DbgDev result. Talks to the probe. */
DRAVIK_API int DravikSelectDevice(const char* serialNumber, unsigned int flags, int* status);
/* Reads the core status into *status. Returns 0, 20, 303 or a DbgDev result. Talks to the probe. */
DRAVIK_API int DravikGetDeviceStatus(int* status);
/* Lets the core run, then reads its status. Returns 0, 20, 303 or a DbgDev result. */
DRAVIK_API int DravikRunDevice(int* status);
/* Blinks the LED of the selected probe or, with none selected, of the probe with this serial number
 * (opened and closed around the blink). Returns 0, 20, 303 or a DbgDev result. */
DRAVIK_API int DravikBlinkDebugger(const char* serialNumber);
/* Drops the selection, closes target and probe and destroys the device object. Returns 0, or -1
 * when there was no device object. */
DRAVIK_API int DravikCloseDevice(void);

/* Programs DEMCR, the ITM and the TPIU for SWO and starts the probe's receiver at
 * traceClock / prescaler with a 4000-byte buffer. *fifoSize out: the TPIU FIFO size. Returns 0, 20
 * (null fifoSize, or a rate of 0 or below: nothing sent), 28 (a register did not verify, ITM
 * locked, prescaler outside 1..65536), 303, 403 (no transmit mode, no FIFO size) or a DbgDev
 * result. Talks to the probe. */
DRAVIK_API int DravikSetupDevice(int traceClock, int prescaler, int stimulusMask, int txModeFlags,
                                 int* fifoSize);
/* Starts the receiver at traceClock / prescaler without touching the target. Returns 0, 20
 * (prescaler 0, or a rate that does not fit or is 0 or below: nothing sent), 303 or a DbgDev
 * result. */
DRAVIK_API int DravikStartSWVRead(int traceClock, int prescaler);
/* Stops the receiver. Returns 0, 303 or a DbgDev result. */
DRAVIK_API int DravikStopSWVRead(void);
/* Fetches every pending trace byte into buffer + offset. *length in: capacity of buffer (from
 * buffer); out: bytes fetched. Returns 0, 20 (null pointer, negative offset), 303, 403 (not enough
 * room: the pending bytes are discarded) or a DbgDev result. At most two probe exchanges. */
DRAVIK_API int DravikReadSWVData(char* buffer, int offset, int* length);
/* Reads size bytes of target memory at address in 32-bit units; rwStatus may be null. Returns 0, 20
 * (address or size not a multiple of 4), 303 or a DbgDev result. */
DRAVIK_API int DravikReadMemory(unsigned int address, unsigned char* buffer, unsigned short size,
                                unsigned int* rwStatus);

#ifdef __cplusplus
}

class DbgDev;

/* The one device object of the interface; null until first use. */
DRAVIK_API extern DbgDev* g_dev;

/* Clears the three text buffers. */
DRAVIK_API void ResetLog();
/* Returns the device object, creating it (USB interface) on first use; null with an error text when
 * it cannot be created. */
DRAVIK_API DbgDev* GetDbgDev();
/* Reads the core status of access port 0 into *status (step and error texts as the interface writes
 * them). */
DRAVIK_API int ReadDeviceStatus(DbgDev* dev, int* status);
/* Logging register helpers on access port 0; `name` only feeds the texts. */
DRAVIK_API int ReadDebugRegister(DbgDev& dev, unsigned int address, const char* name,
                                 unsigned int* value);
DRAVIK_API int WriteDebugRegister(DbgDev& dev, unsigned int address, const char* name,
                                  unsigned int value);
/* Read-modify-write-verify: the mask bits are replaced by value; 28 when the read-back differs. */
DRAVIK_API int ReadWriteCheckDebugRegister(DbgDev& dev, unsigned int address, const char* name,
                                           unsigned int mask, unsigned int value);
#endif

#endif
