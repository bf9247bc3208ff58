#pragma once
// Addresses and fields of the Armv7-M Data Watchpoint and Trace unit (0xE0001000-0xE0001FFF).
// Shared by the model and the tests.

#include <cstdint>

namespace dravik::sim::dwt {

constexpr uint32_t kBase = 0xE0001000;
constexpr uint32_t kLast = 0xE0001FFF;
constexpr uint32_t kCtrl = 0xE0001000;
constexpr uint32_t kCyccnt = 0xE0001004;
constexpr uint32_t kCpicnt = 0xE0001008;
constexpr uint32_t kExccnt = 0xE000100C;
constexpr uint32_t kSleepcnt = 0xE0001010;
constexpr uint32_t kLsucnt = 0xE0001014;
constexpr uint32_t kFoldcnt = 0xE0001018;
constexpr uint32_t kPcsr = 0xE000101C;
// Comparator n: COMP, MASK and FUNCTION, 16 bytes apart.
constexpr uint32_t kComp0 = 0xE0001020;
constexpr uint32_t kMask0 = 0xE0001024;
constexpr uint32_t kFunction0 = 0xE0001028;
constexpr uint32_t kComparatorStride = 16;
constexpr unsigned kMaxComparators = 15;  // NUMCOMP is 4 bits
constexpr uint32_t comp(unsigned n) {
    return kComp0 + kComparatorStride * n;
}
constexpr uint32_t mask(unsigned n) {
    return kMask0 + kComparatorStride * n;
}
constexpr uint32_t function(unsigned n) {
    return kFunction0 + kComparatorStride * n;
}

// DWT_CTRL.
namespace ctrl {
constexpr uint32_t kCyccntena = 1u << 0;
constexpr uint32_t kPostpresetShift = 1;
constexpr uint32_t kPostpresetMask = 0xFu << kPostpresetShift;
constexpr uint32_t kPostinitShift = 5;
constexpr uint32_t kPostinitMask = 0xFu << kPostinitShift;
constexpr uint32_t kCyctap = 1u << 9;
constexpr uint32_t kSynctapShift = 10;
constexpr uint32_t kSynctapMask = 0x3u << kSynctapShift;
constexpr uint32_t kPcsamplena = 1u << 12;
constexpr uint32_t kExctrcena = 1u << 16;
constexpr uint32_t kCpievtena = 1u << 17;
constexpr uint32_t kExcevtena = 1u << 18;
constexpr uint32_t kSleepevtena = 1u << 19;
constexpr uint32_t kLsuevtena = 1u << 20;
constexpr uint32_t kFoldevtena = 1u << 21;
constexpr uint32_t kCycevtena = 1u << 22;
constexpr uint32_t kNoprfcnt = 1u << 24;
constexpr uint32_t kNocyccnt = 1u << 25;
constexpr uint32_t kNoexttrig = 1u << 26;
constexpr uint32_t kNotrcpkt = 1u << 27;
constexpr uint32_t kNumcompShift = 28;

// The bits that need the cycle counter (PC sampling and cycle events run off its POSTCNT tap),
// the profiling counters and trace packets.
constexpr uint32_t kCycleCounterBits = kCyccntena | kPostpresetMask | kPostinitMask | kCyctap |
                                       kSynctapMask | kPcsamplena | kCycevtena;
constexpr uint32_t kProfilingBits =
    kCpievtena | kExcevtena | kSleepevtena | kLsuevtena | kFoldevtena;
constexpr uint32_t kTracePacketBits = kPcsamplena | kExctrcena | kCycevtena;
constexpr uint32_t kWritable = kCycleCounterBits | kProfilingBits | kTracePacketBits;
static_assert(kWritable == 0x007F1FFF);

// CYCCNT bit whose toggling requests an ITM synchronisation packet, by SYNCTAP (0: none).
constexpr unsigned syncTapBit(uint32_t ctrlValue) {
    constexpr unsigned kBits[] = {0, 24, 26, 28};
    return kBits[(ctrlValue & kSynctapMask) >> kSynctapShift];
}
}  // namespace ctrl

// DWT_FUNCTIONn: FUNCTION, EMITRANGE, CYCMATCH, DATAVMATCH, DATAVSIZE, DATAVADDR0/1 are
// writable; LNK1ENA (bit 9) and MATCHED (bit 24) are status.
constexpr uint32_t kFunctionWritable = 0x000FFDAF;
constexpr uint32_t kMaskWritable = 0x1F;
constexpr uint32_t kProfilingCounterMask = 0xFF;  // the five event counters are 8 bits wide
constexpr uint32_t kPcsrNotRunning = 0xFFFFFFFF;  // halted or in reset: no PC to sample

}  // namespace dravik::sim::dwt
