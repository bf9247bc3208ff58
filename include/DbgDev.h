// The device object: one probe and, through it, one Arm Cortex-M target. Every operation returns an
// int result code (0 = success, names in DbgDevResult) and never throws. Operations that talk to
// the probe build one command record each and send it through SendRequestAndAnalyzeStatus.
#ifndef DRAVIK_DBGDEV_H
#define DRAVIK_DBGDEV_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "DravikExport.h"
#include "DravikUSBDriver.h"

// Result codes of DbgDev operations.
enum DbgDevResult : int {
    DBGDEV_OK = 0,
    DBGDEV_OPEN_FAILURE = 1,      // probe open failure; TCP connection id not set
    DBGDEV_EXCHANGE_FAILURE = 3,  // driver library exchange failure
    DBGDEV_NO_TARGET = 4,         // no target detected; probe not open (breakpoint bulk operations)
    DBGDEV_NO_FREE_COMPARATOR = 5,  // no free FPB comparator
    DBGDEV_NO_SOFT_BREAKPOINT = 6,  // no software breakpoint at the address
    DBGDEV_UNKNOWN_JTAG_CHAIN = 7,
    DBGDEV_FIRMWARE_TOO_OLD = 14,
    DBGDEV_FIRMWARE_NOT_LATEST = 15,  // warning: the probe is open
    DBGDEV_RESET_NOT_SEEN = 16,
    DBGDEV_HELD_IN_RESET = 17,
    DBGDEV_NOT_HALTED = 18,
    DBGDEV_PROBE_ERROR = 19,  // another error status; single step not confirmed
    DBGDEV_BAD_ARGUMENT = 20,
    DBGDEV_NOT_SUPPORTED = 21,
    DBGDEV_DFU_EXIT_REFUSED = 23,
    DBGDEV_NO_DESCRIPTION = 24,
    DBGDEV_SERIAL_NOT_FOUND = 25,
    DBGDEV_NO_PROBE = 26,  // no probe found, or probe not open
    DBGDEV_PLATFORM_NOT_SUPPORTED = 27,
    DBGDEV_NO_PERMISSION = 28,
    DBGDEV_ENUMERATION_FAILURE = 29,
    DBGDEV_AP_IN_USE = 30,
    DBGDEV_AP_NEW_OWNER = 31,
    DBGDEV_AP_FAULT = 32,
    DBGDEV_TCP_ID_ERROR = 33,
    DBGDEV_TCP_CLIENTS_TOO_OLD = 34,
    DBGDEV_SETTINGS_CHANGED = 35,   // probe settings changed by a frequency switch
    DBGDEV_FREQUENCY_DIFFERS = 36,  // warning: the applied frequency differs from the request
    DBGDEV_STEP_NOT_SETTLED = 37,   // single step: S_RETIRE_ST kept reading set
};

// SWD clock settings (value, divider sent to second-generation firmware, kHz).
enum DbgDev_SwClkT : int {
    DbgDev_SwClk4000KHz = 0,
    DbgDev_SwClk1800KHz = 1,
    DbgDev_SwClk950KHz = 2,
    DbgDev_SwClk480KHz = 3,
    DbgDev_SwClk240KHz = 4,
    DbgDev_SwClk125KHz = 5,
    DbgDev_SwClk100KHz = 6,
    DbgDev_SwClk50KHz = 7,
    DbgDev_SwClk25KHz = 8,
    DbgDev_SwClk15KHz = 9,
    DbgDev_SwClk5KHz = 10,
};

// JTAG clock settings.
enum DbgDev_JtagClkT : int {
    DbgDev_JtagClk9000KHz = 0,
    DbgDev_JtagClk4500KHz = 1,
    DbgDev_JtagClk2250KHz = 2,
    DbgDev_JtagClk1125KHz = 3,
    DbgDev_JtagClk562KHz = 4,
    DbgDev_JtagClk281KHz = 5,
    DbgDev_JtagClk140KHz = 6,
};

// Access-port type given to InitAP; the connection sequence opens the core's debug port with
// type 1.
enum DbgDev_ApTypeT : int {
    DbgDev_ApTypeBasic = 0,
    DbgDev_ApTypeDebug = 1,
};

// Clock put out on the probe's MCO pin; 0 is the default HSE output, the others are the firmware's.
enum DbgDev_McoSelT : int {
    DbgDev_McoHse = 0,
    DbgDev_McoSel1 = 1,
    DbgDev_McoSel2 = 2,
    DbgDev_McoSel3 = 3,
    DbgDev_McoSel4 = 4,
};

// Core run state, handed to hosts unchanged.
enum Device_StatusT : int {
    DEVICE_RUNNING = 0,
    DEVICE_HALTED = 1,
    DEVICE_LOCKUP = 2,
    DEVICE_SLEEP = 3,
    DEVICE_RESET = 4,
};

struct DbgDev_TcpServerParamT {
    const char* serverHost;
    const char* serverPort;
    const char* serverArgs;
};

#pragma pack(push, 1)
struct VERSION {
    uint8_t dravikVer;  // probe generation
    uint8_t jtagVer;    // debug firmware version
    uint8_t monowireVer;
    uint16_t usbVendorId;
    uint16_t usbProductId;
};

// Bytes 1 and 2 are in the other order than in VERSION.
struct VERSION_EXT {
    uint8_t dravikVer;
    uint8_t monowireVer;
    uint8_t jtagVer;
    uint8_t auxVer1;
    uint8_t auxVer2;
    uint8_t auxVer3;
    uint8_t unused[2];
    uint16_t usbVendorId;
    uint16_t usbProductId;
};

// Shadow of one FPB code comparator.
struct HW_BKPT {
    uint32_t address;        // bit 0 cleared
    uint32_t secondAddress;  // with state 2: the other half-word of the same word
    uint8_t state;           // 0 free, 1 one breakpoint, 2 both half-words (FPB revision 1)
};
#pragma pack(pop)

static_assert(sizeof(VERSION) == 7, "VERSION is 7 bytes");
static_assert(offsetof(VERSION, jtagVer) == 1, "VERSION.jtagVer");
static_assert(offsetof(VERSION, monowireVer) == 2, "VERSION.monowireVer");
static_assert(offsetof(VERSION, usbVendorId) == 3, "VERSION.usbVendorId");
static_assert(offsetof(VERSION, usbProductId) == 5, "VERSION.usbProductId");
static_assert(sizeof(VERSION_EXT) == 12, "VERSION_EXT is 12 bytes");
static_assert(offsetof(VERSION_EXT, monowireVer) == 1, "VERSION_EXT.monowireVer");
static_assert(offsetof(VERSION_EXT, jtagVer) == 2, "VERSION_EXT.jtagVer");
static_assert(offsetof(VERSION_EXT, auxVer1) == 3, "VERSION_EXT.auxVer1");
static_assert(offsetof(VERSION_EXT, usbVendorId) == 8, "VERSION_EXT.usbVendorId");
static_assert(offsetof(VERSION_EXT, usbProductId) == 10, "VERSION_EXT.usbProductId");
static_assert(sizeof(HW_BKPT) == 9, "HW_BKPT is 9 bytes");

struct SW_BKPT {
    uint32_t address;           // exactly as the caller passed it
    uint16_t savedInstruction;  // the two bytes found there, low byte first
};

// Receives each formatted diagnostic text of a device object (documented extension).
typedef void (*DbgDev_LogSinkT)(void* context, const char* text);

class DRAVIK_API DbgDev {
  public:
    // --- construction, discovery, TCP server parameters ---
    explicit DbgDev(TEnumDravikInterface interface);
    virtual ~DbgDev();
    DbgDev(const DbgDev&) = delete;
    DbgDev& operator=(const DbgDev&) = delete;

    // Enumerates unless a successful enumeration stands and force is not 1; *count gets the probes
    // counted. 0, 26 (none), 28 (permission), 29 (other failure). Driver calls only.
    int EnumerateDevInterfaceIfRequired(const char* path, int* count, int force, int option);
    // Always enumerates afresh (force 1). Same results.
    int EnumerateDevInterface(const char* path, int* count, int option);
    // Description record of probe `index` of the current list. 0, 20 (index, null), 24, and the
    // enumeration results. Driver calls only.
    int GetDeviceInfo2(int index, TDeviceInfo2* info, unsigned size);
    // Same with the long record; 21 on the TCP interface (nothing called).
    int GetDeviceInfo(int index, TDeviceInfo* info, unsigned size);
    // Exclusive or shared opening for the next OpenDravik. No traffic.
    void SetOpenModeExclusive(bool exclusive);
    // Stores the TCP server address ("@host:port") and option text for the next enumeration.
    // 0, or 20 (paramCount <= 2, null). No traffic.
    int SetTcpServerParam(unsigned char paramCount, DbgDev_TcpServerParamT* param);
    // Clients sharing the probe through the TCP server. 0, 20 (null), 21 (not TCP), 26 (no
    // connection).
    int GetNumOfDeviceClientsTcp(unsigned int* clients, unsigned int connectionId);
    // The object's diagnostic sink: discarded unless a log sink is installed.
    void LogTrace(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Extension: hands every LogTrace text to `sink`; with no sink nothing is formatted.
    void SetLogSink(DbgDev_LogSinkT sink, void* context);
    // Extension: a short English text for a result code, for tools and logs.
    static const char* ResultText(int code);

    // --- command transport ---
    // Sends one record and maps the probe's status word (null: transport only). 0, 1 (TCP id not
    // set), 3 (driver failure), 20 (null record), 26 (probe not open), 4/7/19/20/30-33/35 (status).
    int SendRequestAndAnalyzeStatus(TDeviceRequest* request, const unsigned short* status);

    // --- probe opening and firmware capabilities ---
    // Opens probe `index` (USB) or device `tcpDeviceId` (TCP), reads its version and applies the
    // firmware gates. 0, 1, 14, 15 (open, not the latest firmware), 27, 34, and transport codes.
    int OpenDravik(const char* path, int index, unsigned tcpDeviceId);
    // Finds the probe by serial number and opens it; strict 0 opens a lonely probe whatever its
    // serial. 0, 20 (null), 25 (not found or already open), and the first form's results.
    int OpenDravik(const char* path, const char* serialNumber, int strict);
    // Closes the probe connection; always 0.
    int CloseDravik();
    // Version queries (F1 80, FB 80); the record is left unchanged on failure.
    int Veltra_GetVersion(VERSION* version);
    int Veltra_GetVersion(VERSION_EXT* version);
    int Veltra_GetVersionExt(VERSION_EXT* version);
    // Board type (F8 80); 21 and 0xFFFFFFFF on firmware without it.
    int GetBoardType(unsigned* boardType);
    // Capability predicates from the opened probe's generation and firmware version; no traffic.
    bool IsFpuAndBoardTypeFwCmdSupport() const;
    bool IsJtagConnUnderResetFwSupport() const;
    bool IsGetSetSwitchFreqFwCmdSupport() const;
    bool IsTcpAndApFwCmdSupport() const;
    bool IsLedAndDiskNameFwCmdSupport() const;
    bool IsVoltageNrstAndSwvFwCmdSupport() const;
    bool IsSwdClkFwCmdSupport() const;
    bool IsJtagClkFwCmdSupport() const;
    bool IsDapRegFwCmdSupport() const;
    bool IsMcoSelAndRW16bitFwCmdSupport() const;
    bool IsOldFwVersion() const;
    int GetDravikGeneration() const;

    // --- interface clocks ---
    // Clock by setting. 0, 20, 21 (firmware), 26 (not open), 36 (applied differs), transport codes.
    // Outside modes 1 and 2 the choice is only remembered for the next connection.
    int SetSwClockFreq(DbgDev_SwClkT clock);
    int SetJtagClockFreq(DbgDev_JtagClkT clock);
    // Setting <-> kHz conversions (com 0 SWD, 1 JTAG); 20 for no matching setting.
    static int ConvComClockToFreqKHz(unsigned char com, DbgDev_SwClkT swClock,
                                     DbgDev_JtagClkT jtagClock, unsigned* freqKHz);
    static int ConvFreqKHzToComClock(unsigned char com, DbgDev_SwClkT* swClock,
                                     DbgDev_JtagClkT* jtagClock, unsigned freqKHz);
    // Clock by kHz: fixed 1000 kHz, second-generation settings, or the probe's applied value.
    // 0, 20, 26, 36 (warning: the applied frequency differs, the clock runs), transport codes; a
    // second-generation setter that fails returns its code and leaves the clock members alone.
    int SetComFreq(unsigned char com, unsigned freqKHz);
    // Current frequency and the offered ones (`list` holds 10). 0, 20, 21, 26, transport codes.
    int GetComFreq(unsigned char com, unsigned* currentKHz, unsigned* count, unsigned* list);
    // Third generation: switches the probe's own frequency by 1, 2 or 4. 0, 20, 21, 26, 35.
    int SwitchDravikFreq(unsigned char divider, unsigned* value);

    // --- target connection ---
    // Full connection: mode exit, clock, voltage, optional connection under reset, debug entry,
    // access port, halt and reset or hot attach. protocol 1 SWD, 0 JTAG. Codes of every step.
    int OpenTarget(int protocol, int connectUnderReset, int hotPlug, int apIndex, int systemReset);
    // Leaves the debug protocol; 21 for apIndex != 0 on firmware without access ports.
    int CloseTarget(int apIndex);
    // OpenDravik then OpenTarget; 15 carried through when the connection succeeds.
    int OpenDevice(int protocol, const char* path, int connectUnderReset, int instance,
                   int apIndex);
    // CloseTarget then CloseDravik; results dropped.
    void CloseDevice(int apIndex);
    // Reads FP_CTRL once per connection: FPB revision and usable comparators (at most 10).
    int IdentifyTargetCore(int apIndex);

    // --- trace reception and probe services ---
    // The probe's SWV receiver (gate: IsVoltageNrstAndSwvFwCmdSupport, 21 before anything is
    // sent; null pointers 20). Counts and fetches work in bytes.
    int StartSWVTraceReception(unsigned swoRate, unsigned short bufferSize);
    int StopSWVTraceReception();
    int GetSWVTraceNewRecordNb(unsigned short* count);
    int GetSWVTraceRecords(unsigned char* data, unsigned short count);
    // Probe services: target voltage (volts left alone when the reference reads 0), LED, mass
    // storage volume name (min(size, 12) bytes), MCO output. 0, 20, 21, 26 and transport codes.
    int GetTargetVoltage(float* volts);
    int BlinkDravikLed();
    int GetMassStorageVolumeName(unsigned char* name, unsigned short size);
    int SelectMcoOutput(DbgDev_McoSelT selection);

    // --- probe modes and access ports ---
    // Probe modes: 1 idle, 2 debug, 3 Monowire, other DFU. DFU_Exit refuses (23) with sub-mode > 1;
    // JTAG_Enter(1) enters SWD, any other value JTAG. Transport and status codes.
    int Get_CurrentMode();
    int DFU_Exit();
    int Monowire_Enter();
    int Monowire_Exit();
    int JTAG_Enter(int protocol);
    int JTAG_Exit();
    int ReadIdCodes(unsigned* first, unsigned* second);
    // Access ports (firmware with access-port commands, else 21); type 0 or 1, else 20.
    int InitAP(int apIndex, DbgDev_ApTypeT type);
    int CloseDbgAP(int apIndex);

    // --- debug and DAP registers ---
    // One 32-bit target word through access port apIndex (its low byte is sent). 0, 20 (null),
    // and transport/status codes; the value is stored only on success.
    int WriteDebugRegister(unsigned address, unsigned value, int apIndex);
    int ReadDebugRegister(unsigned address, unsigned* value, int apIndex);
    // DP/AP registers directly (gate IsDapRegFwCmdSupport: 21; null checked first: 20).
    int ReadDapRegister(int dpOrApPort, unsigned short dapRegister, unsigned* value);
    int WriteDapRegister(int dpOrApPort, unsigned short dapRegister, unsigned value);
    // Outcome of the last memory transfer; *rwStatus gets answer bytes 4-7 (0 after the short
    // form).
    int GetLastReadWriteStatus(unsigned* rwStatus);

    // --- memory ---
    // Memory primitives: one command each, then the last read/write status. 32/16-bit: size and
    // address aligned (20); 16-bit needs firmware support (21) and an open probe (26); 8-bit: at
    // most 64 bytes (20).
    int ReadMemory_32Bit(unsigned address, unsigned char* buffer, unsigned short size,
                         unsigned* rwStatus, int apIndex);
    int WriteMemory_32Bit(unsigned address, const unsigned char* buffer, unsigned short size,
                          unsigned* rwStatus, int apIndex);
    int ReadMemory_16Bit(unsigned address, unsigned char* buffer, unsigned short size,
                         unsigned* rwStatus, int apIndex);
    int WriteMemory_16Bit(unsigned address, const unsigned char* buffer, unsigned short size,
                          unsigned* rwStatus, int apIndex);
    int ReadMemory_8Bit(unsigned address, unsigned char* buffer, unsigned short size,
                        unsigned* rwStatus, int apIndex);
    int WriteMemory_8Bit(unsigned address, const unsigned char* buffer, unsigned short size,
                         unsigned* rwStatus, int apIndex);
    // Any address and length, split into primitives in ascending order; ranges past 0xFFFFFFFF are
    // refused (20) before any command. The first failing piece ends the operation.
    int Read(unsigned address, unsigned char* buffer, unsigned size, unsigned* rwStatus,
             int apIndex);
    int Write(unsigned address, const unsigned char* buffer, unsigned size, unsigned* rwStatus,
              int apIndex);
    // True for 0x20000000 to 0x2FFFFFFF.
    static bool IsRamLocation(unsigned address);

    // --- run control and reset ---
    // Run control through DHCSR, DEMCR and AIRCR. Waits poll DHCSR for up to 2 s of wall clock.
    // 16 (reset not seen), 17 (held in reset), 18 (not halted), 19 (step not confirmed), 20, 21,
    // DBGDEV_STEP_NOT_SETTLED, and transport/status codes.
    int GetStatus(Device_StatusT* status, int apIndex);
    int ForceDebug(int waitForHalt, int apIndex);
    int WaitForTargetReset(double seconds, int apIndex);
    int Reset(int hwReset, int apIndex, int systemReset);
    int RunCore(int maskInts, int apIndex);
    int StepCore(int maskInts, int apIndex);
    int TargetHardReset(unsigned char action);
    int ResetSystem();

    // --- core registers ---
    // Core registers into m_coreRegs / m_fpuRegs (rewritten whatever the result), single registers;
    // a write answered 0x000D (verify error) counts as done.
    int ReadAllRegisters(int apIndex);
    int ReadFpuRegisters(int apIndex);
    int ReadRegister(unsigned char reg, unsigned* value, int apIndex);
    int WriteRegister(unsigned char reg, unsigned value, int apIndex);

    // --- breakpoints ---
    // Breakpoints: software (BKPT in SRAM) or FPB comparators elsewhere; apply 1 updates the target
    // now. 4 (probe not open, bulk operations), 5 (no free comparator), 6 (no software breakpoint),
    // 20 (also: an address at or above 0x20000000 outside SRAM on a revision 1 FPB, which matches
    // only the code region), and the codes of the memory and register accesses.
    int SetBreakpoint(unsigned address, int apply, int apIndex);
    int ClearBreakpoint(unsigned address, int apply, int apIndex);
    int UpdateBreakpointsOnTarget(int apIndex);
    int ClearAllBreakpoint(int apIndex);
    int UpdateFlashPatchOnTarget(int slot, int apIndex);
    int SetSoftBKPT(unsigned address, unsigned short* savedInstruction, int apIndex);
    int RestoreSoftBKPT(unsigned address, unsigned short instruction, int apIndex);
    // The probe's own flash patch commands; the shadow table is not touched.
    int SetFlashPatch(unsigned char comparator, unsigned address, int wholeWord);
    int ClearFlashPatch(unsigned char comparator);

    // Sizes of the fixed tables.
    static constexpr int kCoreRegCacheSize = 23;
    static constexpr int kFpuRegCacheSize = 33;
    static constexpr int kFlashPatchSlots = 10;
    static constexpr unsigned kDriverPathSize = 32768;
    static constexpr unsigned kTcpTextSize = 50;

  private:
    friend struct DbgDevTestPeer;  // tests inspect and preset the members

    // Test seam: the calloc-like function behind the library's heap allocations (command records,
    // the recorded serial number); null restores calloc. Returns the one it replaces.
    using AllocatorT = void* (*)(size_t count, size_t size);
    static AllocatorT SwapAllocator(AllocatorT allocator);

    // The part both clock setters share: mode check, table lookup and the command.
    DRAVIK_INTERNAL int ApplyClockSetting(unsigned char com, int clock);

    // Data members in their documented order.
    uint32_t m_coreRegs[kCoreRegCacheSize];
    uint32_t m_fpuRegs[kFpuRegCacheSize];
    bool m_probeOpen;
    bool m_targetOpen;
    VERSION_EXT m_version;
    void* m_usbHandle;
    uint32_t m_tcpConnectionId;
    uint16_t m_probeMode;
    uint8_t m_probeSubMode;
    uint32_t m_deviceCount;
    bool m_openExclusive;
    char m_driverPath[kDriverPathSize];
    bool m_enumInitDone;
    bool m_enumerated;
    TEnumDravikInterface m_interface;
    char m_tcpServerAddress[kTcpTextSize];
    char m_tcpServerCmdArgs[kTcpTextSize];
    DbgDev_SwClkT m_swdClock;
    DbgDev_JtagClkT m_jtagClock;
    uint32_t m_swdFreqKHz;
    uint32_t m_jtagFreqKHz;
    std::vector<SW_BKPT> m_softBreakpoints;
    uint8_t m_flashPatchUsed;
    HW_BKPT m_flashPatch[kFlashPatchSlots];
    uint16_t m_fpbCodeComparators;
    bool m_coreIdentified;
    bool m_fpbRev2;

    // Extension members (log sink).
    DbgDev_LogSinkT m_logSink;
    void* m_logContext;
};

#endif
