#pragma once
// The Data Watchpoint and Trace unit as a debugger sees it: DWT_CTRL, the cycle counter, the five
// profiling counters, PCSR and the comparators. Debug logic, so only a power-on reset clears it.
//
// Everything needs DEMCR.TRCENA: while it is clear the registers read as zero, writes are ignored
// and nothing counts. The architecture leaves such reads UNKNOWN and such writes IMPLEMENTATION
// DEFINED; zero and ignored is what a debugger that forgot TRCENA must notice on its read-back.
//
// CYCCNT counts core cycles while CYCCNTENA is set and the core runs: not while it is halted, in
// reset or locked up, and in WFI/WFE sleep only with DwtConfig::countsInSleep. It wraps at 32 bits
// and takes writes. The model executes no code, so the event counters only hold what is written to
// them and the comparators never match. Features the configuration leaves out read as zero and
// ignore writes, their NO* bit set in DWT_CTRL; so do comparators at or above NUMCOMP.
//
// PC sampling runs off the cycle counter: each time CYCCNT's bit 6 (CYCTAP 0) or bit 10 (CYCTAP
// 1) changes, the 4-bit POSTCNT counter counts down while PCSAMPLENA or CYCEVTENA is set; at a
// tap that finds it at 0 it reloads from POSTPRESET and a PC sample is due (with PCSAMPLENA).
// So samples come every (POSTPRESET + 1) taps, the first one POSTINIT + 1 taps after sampling
// starts. A DWT_CTRL write loads POSTCNT from its POSTINIT field while both enables were clear:
// the architecture only allows POSTINIT to change then, and a write at another time leaves the
// count running. POSTINIT reads back as written. CYCEVTENA runs the counter too; its event
// counter packets are not modelled.

#include <DravikBench/TraceConfig.h>

#include <array>
#include <cstdint>

#include "target/Peripheral.h"

namespace dravik::sim {

class Dwt {
  public:
    explicit Dwt(const DwtConfig& config);

    void powerOnReset();

    static bool claims(uint32_t address);
    // Preconditions: claims(address), word-aligned. `pc` is the core's PC, which PCSR shows while
    // the core runs.
    uint32_t read32(uint32_t address, const CoreActivity& activity, uint32_t pc) const;
    void write32(uint32_t address, uint32_t value, const CoreActivity& activity);
    // `cycles` core cycles have passed with `activity`.
    void advance(uint64_t cycles, const CoreActivity& activity);

    // Whether CYCCNT counts under this activity.
    bool counts(const CoreActivity& activity) const;
    uint32_t ctrl() const;
    uint32_t cyccnt() const { return cyccnt_; }
    // Counted cycles until CYCCNT's synchronisation tap bit (DWT_CTRL.SYNCTAP) next toggles; 0
    // while SYNCTAP is 0. Toggles counted since power-on.
    uint64_t cyclesToSyncTap() const;
    uint64_t syncTapToggles() const { return syncTapToggles_; }
    // Counted cycles until the next PC sample is due; 0 while PCSAMPLENA is clear. PC samples due
    // since power-on.
    uint64_t cyclesToPcSample() const;
    uint64_t pcSamplesDue() const { return pcSamplesDue_; }

  private:
    struct Comparator {
        uint32_t comp = 0;
        uint32_t mask = 0;
        uint32_t function = 0;
    };

    // Index of the comparator register at `address`, or -1 for none or one not implemented;
    // `offset` is the register's offset within the comparator (0 COMP, 4 MASK, 8 FUNCTION).
    int comparatorAt(uint32_t address, uint32_t& offset) const;
    // Index 0-4 of a profiling counter register, or -1.
    static int profilingCounterAt(uint32_t address);
    // POSTCNT has seen `taps` taps of the cycle counter.
    void countPostcntTaps(uint64_t taps);
    uint32_t postPreset() const;

    DwtConfig config_;
    uint32_t writableCtrl_;
    uint32_t ctrl_ = 0;  // the writable bits
    uint32_t cyccnt_ = 0;
    std::array<uint32_t, 5> profilingCounters_{};
    std::array<Comparator, 15> comparators_{};
    uint64_t syncTapToggles_ = 0;
    uint32_t postcnt_ = 0;
    uint64_t pcSamplesDue_ = 0;
};

}  // namespace dravik::sim
