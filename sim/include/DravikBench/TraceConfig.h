#pragma once
// Configuration of the simulated target's trace blocks (ITM, TPIU, SWO pin) and of the firmware
// that writes to the ITM's stimulus ports. Plain data; filled by tests, benchmarks or the bench's
// loader.

#include <array>
#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include "DravikBench/DwtTraceConfig.h"

namespace dravik::sim {

// Register values of the bench's default silicon (a Cortex-M4) as its ITM and TPIU report them.
namespace silicon {
constexpr uint32_t kCoreClockHzDefault = 72000000;

// TPIU_TYPE: NRZVALID (bit 11), MANCVALID (bit 10), parallel port valid (bit 9 clear), FIFOSZ 2.
constexpr uint32_t kTpiuTypeCortexM4 = 0x00000CA0;
constexpr uint32_t kTpiuTypeNrzValid = 1u << 11;
constexpr uint32_t kTpiuTypeManchesterValid = 1u << 10;
constexpr uint32_t kTpiuTypeFifoSzShift = 6;
constexpr uint32_t kTpiuTypeFifoSzMask = 0x7u << kTpiuTypeFifoSzShift;
// TPIU_TYPE with the given protocol support and FIFOSZ field, other bits as on the default part.
constexpr uint32_t tpiuType(bool nrz, bool manchester, uint32_t fifoSz) {
    return (kTpiuTypeCortexM4 &
            ~(kTpiuTypeNrzValid | kTpiuTypeManchesterValid | kTpiuTypeFifoSzMask)) |
           (nrz ? kTpiuTypeNrzValid : 0u) | (manchester ? kTpiuTypeManchesterValid : 0u) |
           ((fifoSz << kTpiuTypeFifoSzShift) & kTpiuTypeFifoSzMask);
}
static_assert(tpiuType(true, true, 2) == kTpiuTypeCortexM4);

constexpr uint32_t kTpiuSspsrCortexM4 = 0x0000000F;  // port sizes 1 to 4 supported
constexpr uint32_t kTpiuCspsrReset = 0x00000001;     // port size 1
constexpr uint32_t kTpiuAcprReset = 0x00000000;
constexpr uint32_t kTpiuAcprMaskCortexM4 = 0x0000FFFF;
constexpr uint32_t kTpiuSpprReset = 0x00000001;     // SWO Manchester
constexpr uint32_t kTpiuFfsrCortexM4 = 0x00000008;  // FtNonStop
constexpr uint32_t kTpiuFfcrReset = 0x00000102;     // TrigIn, EnFCont

constexpr uint32_t kItmTcrReset = 0;
constexpr uint32_t kItmTerReset = 0;
constexpr uint32_t kItmTprReset = 0;
constexpr uint32_t kItmLsrLocked = 0x00000003;    // SLI (lock implemented), SLK (locked)
constexpr uint32_t kItmLsrUnlocked = 0x00000001;  // SLI
constexpr uint32_t kItmLsrNoLock = 0x00000000;

// CoreSight identification registers at offsets 0xFD0..0xFFC of a block: PID4..PID7, PID0..PID3,
// CID0..CID3.
using IdRegisters = std::array<uint32_t, 12>;
constexpr IdRegisters kItmIdCortexM4 = {0x04, 0x00, 0x00, 0x00, 0x01, 0xB0,
                                        0x3B, 0x00, 0x0D, 0xE0, 0x05, 0xB1};
constexpr IdRegisters kTpiuIdCortexM4 = {0x04, 0x00, 0x00, 0x00, 0xA1, 0xB9,
                                         0x0B, 0x00, 0x0D, 0x90, 0x05, 0xB1};
constexpr IdRegisters kDwtIdCortexM4 = {0x04, 0x00, 0x00, 0x00, 0x02, 0xB0,
                                        0x3B, 0x00, 0x0D, 0xE0, 0x05, 0xB1};

// DWT_CTRL after power-on: NUMCOMP 4, every feature present, everything off. The fields the
// architecture leaves UNKNOWN at reset (POSTPRESET, POSTINIT, CYCTAP, SYNCTAP) read 0, as on the
// Cortex-M4.
constexpr uint32_t kDwtCtrlCortexM4 = 0x40000000;
constexpr unsigned kDwtComparatorsCortexM4 = 4;
}  // namespace silicon

// What the DWT implements; each feature left out sets its NO* bit in DWT_CTRL and makes its
// registers and enable bits read as zero.
struct DwtConfig {
    unsigned comparators = silicon::kDwtComparatorsCortexM4;  // NUMCOMP, 0 to 15
    bool cycleCounter = true;                                 // DWT_CYCCNT (NOCYCCNT clear)
    bool profilingCounters = true;  // CPICNT, EXCCNT, SLEEPCNT, LSUCNT, FOLDCNT (NOPRFCNT clear)
    bool tracePackets = true;       // PC sampling and exception trace (NOTRCPKT clear)
    bool externalTriggers = true;   // CMPMATCH[N] outputs (NOEXTTRIG clear)
    // Whether CYCCNT counts while the core sleeps in WFI/WFE. Off by default: the core clock is
    // gated in sleep on most parts, so the counter stops.
    bool countsInSleep = false;
};

// What paces the ITM's synchronisation packets while SYNCENA is set.
enum class ItmSyncTiming : uint8_t {
    // As on silicon: one each time CYCCNT's tap bit selected by DWT_CTRL.SYNCTAP (24, 26 or 28)
    // toggles, so none unless SYNCTAP is non-zero and the cycle counter counts.
    DwtSyncTap,
    // Every syncPeriodCycles of running core time, whatever the DWT holds.
    FixedPeriod,
};

// The CoreSight lock access key written to ITM_LAR.
constexpr uint32_t kCoreSightLockKey = 0xC5ACCE55;

// How the ITM's software lock behaves.
enum class ItmLockModel : uint8_t {
    Normal,         // locked after power-on (LSR 3); the key unlocks (LSR 1), any other value locks
    OpenFromStart,  // implemented but open after power-on: LSR reads 1 at once
    KeyIgnored,     // the key has no effect: LSR keeps reading 3 and register writes stay ignored
    ShowsLockedAlways,  // the key unlocks, but LSR keeps reading 3
    NotImplemented,     // no lock: LSR always reads 0 and register writes always take effect
};

// Firmware that prints numbered text lines on one port ("line 1\n", "line 2\n", ...) and a 32-bit
// counter with the same number on another, both once per iteration. The text goes out in word
// writes of four characters and a tail of one halfword and/or one byte, so all three write sizes
// appear. Iteration n (from 0) starts at n / iterationsPerSecond seconds of awake core time.
struct DefaultTraceProgram {
    uint32_t iterationsPerSecond = 1000;
    uint8_t textPort = 0;
    uint8_t counterPort = 1;
    // Poll FIFOREADY before each write like a console driver: nothing is lost, the output only
    // falls behind its schedule when the line is too slow.
    bool waitForFifoReady = true;
};

// One write of a scripted program.
struct ScriptedWrite {
    uint64_t timeUs = 0;  // awake core time since the program started
    uint8_t port = 0;     // 0..31
    uint8_t size = 4;     // 1, 2 or 4 bytes
    uint32_t value = 0;   // the low `size` bytes are written
};

// Firmware that makes exactly these writes (ordered by time; equal times keep the list order).
// Entries with a port above 31 or a size other than 1, 2 or 4 are never written.
struct ScriptedTraceProgram {
    std::vector<ScriptedWrite> writes;
    bool waitForFifoReady = false;
};

// Firmware for throughput benchmarks: word writes of 0, 1, 2, ... on one port, write k at
// k / writesPerSecond seconds of awake core time. Stream byte j of an undisturbed capture is
// therefore byte j % 5 of packet j / 5 = (header, k little-endian), so a receiver can place every
// byte it gets and count exactly what went missing or arrived twice (see SequencePattern.h).
struct SequenceTraceProgram {
    uint32_t writesPerSecond = 20000;  // 100000 bytes/s, half of a 2 Mbit/s NRZ line
    uint8_t port = 0;
    uint64_t count = 0;  // writes in all; 0: without end
    bool waitForFifoReady = false;
};

// Firmware that never writes to the ITM (debugger writes to stimulus ports still emit packets).
struct IdleTraceProgram {};

using TraceProgramConfig =
    std::variant<DefaultTraceProgram, ScriptedTraceProgram, SequenceTraceProgram, IdleTraceProgram>;

struct TraceConfig {
    uint32_t coreClockHz = silicon::kCoreClockHzDefault;  // ITM timestamps and CYCCNT count it
    // The clock the TPIU divides for the SWO line; 0: the core clock. Some parts feed the TPIU
    // from a divided clock, so the host must divide this one, not the core's.
    uint32_t traceClockHz = 0;
    uint32_t tpiuType = silicon::kTpiuTypeCortexM4;
    uint32_t tpiuSspsr = silicon::kTpiuSspsrCortexM4;
    uint32_t tpiuAcprMask = silicon::kTpiuAcprMaskCortexM4;
    silicon::IdRegisters itmId = silicon::kItmIdCortexM4;
    silicon::IdRegisters tpiuId = silicon::kTpiuIdCortexM4;
    ItmLockModel itmLock = ItmLockModel::Normal;

    TraceProgramConfig program = DefaultTraceProgram{};

    // Bytes of packets the ITM can hold before the SWO line takes them (at least 5: one word
    // packet). A write whose packet does not fit is lost and an overflow packet follows.
    uint32_t itmFifoBytes = 16;
    DwtConfig dwt;

    // Where the DWT's PC samples fall (DWT_CTRL.PCSAMPLENA); unset: at the core's PC, as PCSR
    // shows it, in the sleep form while the core sleeps.
    std::optional<PcProfile> pcProfile;
    // The exceptions the firmware takes, traced with DWT_CTRL.EXCTRCENA.
    std::vector<ExceptionSource> exceptions;

    ItmSyncTiming syncTiming = ItmSyncTiming::DwtSyncTap;
    // With FixedPeriod, a synchronisation packet every this many running core cycles (0: never).
    uint64_t syncPeriodCycles = 1u << 24;
    // Keep every byte that left the SWO pin in the trace record.
    bool recordPinBytes = true;
};

}  // namespace dravik::sim
