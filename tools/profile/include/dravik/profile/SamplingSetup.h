// The arithmetic of DWT PC sampling and exception trace: which DWT_CTRL fields give a requested
// sample rate, the writes that set it up, and whether the SWO line can carry the packets.
//
// The DWT's POSTCNT counter is reloaded from POSTPRESET and counts down on every tap of the cycle
// counter (bit 6 of CYCCNT with CYCTAP 0, bit 10 with CYCTAP 1); a PC sample is sent each time
// it runs out, so every (POSTPRESET + 1) * (64 or 1024) cycles: 64 to 16384 cycles.
//
// Setting up, after the trace port (DEMCR.TRCENA, the ITM and TPIU) is:
//  1. read DWT_CTRL and check it with dwtCapabilityError();
//  2. write and read back each of dwtCtrlWrites() in order;
//  3. set ITM_TCR.DWTENA (bit 3), without which DWT packets never reach the ITM.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dravik::profile {

namespace dwt {
inline constexpr uint32_t kCtrl = 0xE0001000;
inline constexpr uint32_t kCycCnt = 0xE0001004;

inline constexpr uint32_t kCycCntEna = 1u << 0;
inline constexpr uint32_t kPostPresetShift = 1;  // bits 4:1
inline constexpr uint32_t kPostPresetMask = 0xFu << kPostPresetShift;
inline constexpr uint32_t kPostInitShift = 5;  // bits 8:5
inline constexpr uint32_t kPostInitMask = 0xFu << kPostInitShift;
inline constexpr uint32_t kCycTap = 1u << 9;
inline constexpr uint32_t kPcSampleEna = 1u << 12;
inline constexpr uint32_t kExcTrcEna = 1u << 16;
inline constexpr uint32_t kNoCycCnt = 1u << 25;  // read-only: no cycle counter
inline constexpr uint32_t kNoTrcPkt = 1u << 27;  // read-only: no trace packets at all
inline constexpr uint32_t kItmTcrDwtEna = 1u << 3;

inline constexpr uint32_t kMinCyclesPerSample = 64;         // POSTPRESET 0, CYCTAP 0
inline constexpr uint32_t kMaxCyclesPerSample = 16 * 1024;  // POSTPRESET 15, CYCTAP 1
}  // namespace dwt

struct PcSampling {
    uint32_t clockHz = 0;          // the core clock, which CYCCNT counts
    double requested = 0;          // samples per second asked for
    bool cycTap = false;           // CYCTAP: tap bit 10 (1024 cycles) rather than bit 6 (64)
    uint32_t postPreset = 0;       // 0..15
    uint32_t cyclesPerSample = 0;  // (postPreset + 1) * (cycTap ? 1024 : 64)
    double samplesPerSecond = 0;   // clockHz / cyclesPerSample: the rate really used
    double errorPercent = 0;       // (used - requested) / requested * 100
};

// The period closest to the requested rate (a tie goes to the slower rate, kinder to the line;
// 1024 cycles, reachable both ways, uses CYCTAP 1). A rate outside what the clock allows (clock
// / 16384 to clock / 64) is refused with a message giving that range, as is a zero clock or a
// rate that is not positive.
std::optional<PcSampling> choosePcSampling(uint32_t clockHz, double samplesPerSecond,
                                           std::string& error);

// "70312.5 samples/s (every 1024 cycles at 72000000 Hz: CYCTAP 1, POSTPRESET 0), 70000
// requested, +0.446 %".
std::string describePcSampling(const PcSampling& sampling);

// Why this DWT cannot do what is asked, from its DWT_CTRL: no trace packets at all (NOTRCPKT),
// or no cycle counter to sample with (NOCYCCNT); empty when it can.
std::string dwtCapabilityError(uint32_t dwtCtrl, bool pcSampling, bool exceptionTrace);

struct RegisterWrite {
    uint32_t value = 0;
    uint32_t checkMask = 0;  // bits that must read back as written
};

// The DWT_CTRL writes, from its current value, that turn on PC sampling (if given) and exception
// trace (if asked), keeping every other field. The counter is set up and started first and the
// sampling enabled after, since POSTINIT may only be written while PCSAMPLENA is clear. POSTINIT
// (the count before the first sample) is not checked: it may read back as the running count.
std::vector<RegisterWrite> dwtCtrlWrites(uint32_t current, const std::optional<PcSampling>& pc,
                                         bool exceptionTrace);

// What the DWT packets ask of the SWO line.
struct SwoLoadRequest {
    double lineBitsPerSecond = 0;  // the line's data bit rate (clock / TPIU prescaler for NRZ)
    double pcSamplesPerSecond = 0;
    double exceptionsPerSecond = 0;  // entries; each brings an entry, an exit and a return packet
    double otherBytesPerSecond = 0;  // instrumentation and the like, if known
    double timestampHz = 0;          // the local timestamp clock, 0 when timestamps are off
};

struct SwoLoad {
    enum class Verdict : uint8_t {
        Fits,       // at most half of the line
        Heavy,      // above half: bursts of other trace may overflow; warn
        Overloads,  // more than the line carries: refuse
    };
    double bytesPerSecond = 0;      // estimated
    double lineBytesPerSecond = 0;  // what the line carries: 10 bit times a byte
    double share = 0;               // bytesPerSecond / lineBytesPerSecond
    Verdict verdict = Verdict::Fits;
};

// A PC sample packet takes 5 bytes (a sleeping one 2; the estimate assumes the core awake), an
// exception packet 3. With timestamps, every packet is taken to be followed by a local timestamp
// as long as the mean time between packets needs (1 to 5 bytes). Synchronisation packets are
// left out: a few bytes per million cycles.
SwoLoad estimateSwoLoad(const SwoLoadRequest& request);

// "about 360.0 kB/s of the line's 200.0 kB/s (180.0 %)".
std::string describeSwoLoad(const SwoLoad& load);

// Bytes of the local timestamp packet for a delta of `ticks`: 1 for a short one (1 to 6, sent in
// the one-byte form), else a header and 7 bits a byte, at most 4 of them.
unsigned localTimestampBytes(uint64_t ticks);

}  // namespace dravik::profile
