// Measures the target's core clock through the probe: the DWT cycle counter read against the
// host's monotonic clock. Independent of the capture tool; it needs only a way to reach the
// target's registers (TargetRegisters, or a bare CYCCNT reader) and a HostClock.
//
// Typical use (the clock the TPIU divides is usually the core clock; a tool confirms that on the
// decoded trace):
//
//     dravik::clock::SteadyHostClock host;
//     MyRegisters registers(dev);               // TargetRegisters over DbgDev register access
//     const dravik::clock::ClockMeasurement m = dravik::clock::measureTargetClock(registers, host);
//     std::puts(dravik::clock::formatClockMeasurement(m).c_str());
//     // "target clock: measured 71.998 MHz +- 0.02 %, using 72 MHz"
//     if (m.usable()) { use m.usedHz; } else { fail, telling the user to give the clock }
//
// How it measures: `bursts` bursts of `readsPerBurst` back-to-back CYCCNT reads, spread evenly
// over `windowUs` of host time, each read bracketed by host timestamps taken just before and just
// after it. The probe samples the counter at an unknown moment inside each bracket, but the
// fixed part of a round trip is the same for every read and cancels out of a slope; what varies
// (the jitter) is narrowed by intersecting the brackets of a burst, each shifted by the counts
// read since its first read. Consecutive bursts give intervals; the median interval's rate
// decides which intervals agree (within their own uncertainty), and an interval in which the
// counter stopped (the core halted or slept) or jumped (written, wrapped more than once) is
// rejected. The value is the agreeing intervals' counts over their time, so the whole baseline
// carries the precision, with the counter's 32-bit wrap undone per interval. Over 200 ms the
// error stays near 0.01 % on a USB high-speed link (125 us + 0..125 us per exchange) and under
// 0.05 % on full speed (1 ms + 0..1 ms); the reported uncertainty bounds it.
//
// The measured value is then rounded to a plausible one: a common crystal, oscillator or PLL
// frequency within the measurement's uncertainty (or within `crystalTolerance`, whichever is
// wider), otherwise the nearest kHz.
#pragma once

#include <cstdint>
#include <functional>

#include "dravik/clock/HostClock.h"
#include "dravik/clock/TargetRegisters.h"

namespace dravik::clock {

enum class ClockOutcome : uint8_t {
    Measured,        // usedHz holds the value to use
    Imprecise,       // measured, but the uncertainty is above maxUncertainty: not to be used
    NoCycleCounter,  // DWT_CTRL.NOCYCCNT: the core has no cycle counter
    NotEnabled,      // DEMCR.TRCENA or DWT_CTRL.CYCCNTENA did not read back set (`problem`)
    AccessFailed,    // a register access returned a non-zero result (`problem`)
    CounterStopped,  // the counter did not count at all: the core is halted, asleep or in reset
    Unsteady,        // the counter counted, but most intervals disagree (halted or slept meanwhile)
};

// What DHCSR said about the core when the counter did not count (measureTargetClock only).
enum class CoreState : uint8_t { Unknown, Running, Halted, Sleeping, LockedUp, InReset };

// The register access behind NotEnabled or AccessFailed.
struct RegisterProblem {
    uint32_t address = 0;
    bool write = false;     // the access that failed was a write
    int result = 0;         // its result code (AccessFailed)
    uint32_t readBack = 0;  // the value read back (NotEnabled)
};

struct ClockMeasurement {
    ClockOutcome outcome = ClockOutcome::CounterStopped;
    double measuredHz = 0;   // Measured and Imprecise
    double uncertainty = 0;  // relative: 0.0002 is +- 0.02 %
    uint32_t usedHz = 0;     // Measured only: the rounded value
    bool nominal = false;    // usedHz is a common crystal or PLL frequency (else the nearest kHz)
    unsigned intervals = 0;  // between consecutive bursts
    unsigned intervalsAgreeing = 0;
    unsigned reads = 0;      // CYCCNT reads made
    uint64_t elapsedUs = 0;  // host time the measurement took, setup included
    RegisterProblem problem;
    CoreState core = CoreState::Unknown;
    // What the setup changed, so a caller may put it back.
    bool setTrcena = false;
    bool setCycleCounter = false;

    bool usable() const { return outcome == ClockOutcome::Measured; }
};

struct MeasureOptions {
    uint64_t windowUs = 200000;  // host time from the first burst's start to the last's
    unsigned bursts = 6;         // at least 3
    unsigned readsPerBurst = 16;
    double maxUncertainty = 0.005;     // above it the outcome is Imprecise (SWO tolerates 3 %)
    double crystalTolerance = 100e-6;  // how far a nominal frequency may be from the measured
    double maxClockHz = 4e9;           // no interval may be long enough to wrap twice at this
    // A counter that reads the same through the first two bursts, over at least this much host
    // time, has stopped: the measurement ends there instead of waiting out the window.
    uint64_t stoppedAfterUs = 1000;
};

// Reads the counter into `value`; returns 0 or the access's result code.
using CounterReader = std::function<int(uint32_t& value)>;

// The measurement alone, on a counter that already counts. Outcomes: Measured, Imprecise,
// AccessFailed (problem.address DWT_CYCCNT), CounterStopped, Unsteady.
ClockMeasurement measureCycleCounter(const CounterReader& readCounter, HostClock& host,
                                     const MeasureOptions& options = {});

// The setup, then the measurement. Setup: DEMCR.TRCENA set if clear (read-modify-write, read
// back), then DWT_CTRL read: NOCYCCNT gives NoCycleCounter; CYCCNTENA set if clear (the other
// bits written back as read), read back. A halted core (DHCSR.S_HALT) gives CounterStopped at
// once; when the counter did not count, DHCSR tells `core`. Nothing is put back afterwards
// (setTrcena, setCycleCounter say what was changed); CYCCNT itself is never written.
ClockMeasurement measureTargetClock(TargetRegisters& registers, HostClock& host,
                                    const MeasureOptions& options = {});

// The setup step of measureTargetClock on its own.
struct CycleCounterSetup {
    bool ready = false;  // CYCCNTENA and TRCENA are set
    // Why not: NoCycleCounter, NotEnabled or AccessFailed.
    ClockOutcome failure = ClockOutcome::AccessFailed;
    RegisterProblem problem;
    bool setTrcena = false;
    bool setCycleCounter = false;
};
CycleCounterSetup enableCycleCounter(TargetRegisters& registers);

}  // namespace dravik::clock
