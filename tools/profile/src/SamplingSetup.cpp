#include "dravik/profile/SamplingSetup.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace dravik::profile {

namespace {

// Up to three decimals, none when whole: "4394.531", "1125000".
std::string number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.3f", value);
    std::string s = text;
    while (!s.empty() && s.back() == '0') {
        s.pop_back();
    }
    if (!s.empty() && s.back() == '.') {
        s.pop_back();
    }
    return s;
}

// One unit for both figures, so that they compare at a glance.
std::string kilobytesPerSecond(double bytesPerSecond) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f kB/s", bytesPerSecond / 1e3);
    return text;
}

constexpr unsigned kPcPacketBytes = 5;         // header and a 32-bit PC
constexpr unsigned kExceptionPacketBytes = 3;  // header and two bytes
constexpr unsigned kPacketsPerException = 3;   // entry, exit, return
constexpr double kBitTimesPerByte = 10;        // a start bit, 8 data bits and a stop bit

}  // namespace

std::optional<PcSampling> choosePcSampling(uint32_t clockHz, double samplesPerSecond,
                                           std::string& error) {
    if (clockHz == 0) {
        error = "PC sampling needs the core clock";
        return std::nullopt;
    }
    const double fastest = static_cast<double>(clockHz) / dwt::kMinCyclesPerSample;
    const double slowest = static_cast<double>(clockHz) / dwt::kMaxCyclesPerSample;
    if (!(samplesPerSecond >= slowest && samplesPerSecond <= fastest)) {
        error = "PC sampling at " + std::to_string(clockHz) + " Hz runs at " + number(slowest) +
                " to " + number(fastest) + " samples/s; " + number(samplesPerSecond) + " requested";
        return std::nullopt;
    }
    PcSampling best;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (const bool cycTap : {false, true}) {
        const uint32_t tap = cycTap ? 1024 : 64;
        for (uint32_t preset = 0; preset < 16; ++preset) {
            const uint32_t cycles = (preset + 1) * tap;
            const double rate = static_cast<double>(clockHz) / cycles;
            const double distance = std::fabs(rate - samplesPerSecond);
            // Candidates come from the fastest up within each tap: on a tie the later, slower
            // one wins, and 1024 cycles with CYCTAP 1 replaces its CYCTAP 0 twin.
            if (distance < bestDistance ||
                (distance == bestDistance && cycles >= best.cyclesPerSample)) {
                bestDistance = distance;
                best.cycTap = cycTap;
                best.postPreset = preset;
                best.cyclesPerSample = cycles;
                best.samplesPerSecond = rate;
            }
        }
    }
    best.clockHz = clockHz;
    best.requested = samplesPerSecond;
    best.errorPercent = (best.samplesPerSecond - samplesPerSecond) / samplesPerSecond * 100.0;
    return best;
}

std::string describePcSampling(const PcSampling& s) {
    char error[32];
    std::snprintf(error, sizeof error, "%+.3f %%", s.errorPercent);
    return number(s.samplesPerSecond) + " samples/s (every " + std::to_string(s.cyclesPerSample) +
           " cycles at " + std::to_string(s.clockHz) + " Hz: CYCTAP " + (s.cycTap ? "1" : "0") +
           ", POSTPRESET " + std::to_string(s.postPreset) + "), " + number(s.requested) +
           " requested, " + error;
}

std::string dwtCapabilityError(uint32_t dwtCtrl, bool pcSampling, bool exceptionTrace) {
    if ((pcSampling || exceptionTrace) && (dwtCtrl & dwt::kNoTrcPkt) != 0) {
        return "the DWT cannot send trace packets (DWT_CTRL.NOTRCPKT is set)";
    }
    if (pcSampling && (dwtCtrl & dwt::kNoCycCnt) != 0) {
        return "the DWT has no cycle counter to sample the PC with (DWT_CTRL.NOCYCCNT is set)";
    }
    return {};
}

std::vector<RegisterWrite> dwtCtrlWrites(uint32_t current, const std::optional<PcSampling>& pc,
                                         bool exceptionTrace) {
    std::vector<RegisterWrite> writes;
    const uint32_t trace = exceptionTrace ? dwt::kExcTrcEna : 0;
    if (!pc) {
        if (exceptionTrace) {
            writes.push_back({current | trace, trace});
        }
        return writes;
    }
    const uint32_t fields = dwt::kCycCntEna | pc->postPreset << dwt::kPostPresetShift |
                            pc->postPreset << dwt::kPostInitShift | (pc->cycTap ? dwt::kCycTap : 0);
    const uint32_t counter = (current & ~(dwt::kPcSampleEna | dwt::kPostPresetMask |
                                          dwt::kPostInitMask | dwt::kCycTap)) |
                             fields;
    const uint32_t checked =
        dwt::kCycCntEna | dwt::kPostPresetMask | dwt::kCycTap | dwt::kPcSampleEna;
    writes.push_back({counter, checked});
    writes.push_back({counter | dwt::kPcSampleEna | trace, checked | trace});
    return writes;
}

unsigned localTimestampBytes(uint64_t ticks) {
    if (ticks <= 6) {
        return 1;
    }
    unsigned payload = 1;
    while (payload < 4 && (ticks >> (7 * payload)) != 0) {
        ++payload;
    }
    return 1 + payload;
}

SwoLoad estimateSwoLoad(const SwoLoadRequest& r) {
    SwoLoad load;
    const double packets = r.pcSamplesPerSecond + kPacketsPerException * r.exceptionsPerSecond;
    load.bytesPerSecond = r.pcSamplesPerSecond * kPcPacketBytes +
                          r.exceptionsPerSecond * kPacketsPerException * kExceptionPacketBytes +
                          r.otherBytesPerSecond;
    if (r.timestampHz > 0 && packets > 0) {
        const auto spacing = static_cast<uint64_t>(std::llround(r.timestampHz / packets));
        load.bytesPerSecond += packets * localTimestampBytes(spacing);
    }
    load.lineBytesPerSecond = r.lineBitsPerSecond / kBitTimesPerByte;
    if (load.lineBytesPerSecond > 0) {
        load.share = load.bytesPerSecond / load.lineBytesPerSecond;
    } else {
        load.share = load.bytesPerSecond > 0 ? std::numeric_limits<double>::infinity() : 0;
    }
    if (load.share > 1.0) {
        load.verdict = SwoLoad::Verdict::Overloads;
    } else if (load.share > 0.5) {
        load.verdict = SwoLoad::Verdict::Heavy;
    }
    return load;
}

std::string describeSwoLoad(const SwoLoad& load) {
    char share[32];
    std::snprintf(share, sizeof share, "%.1f %%", load.share * 100.0);
    return "about " + kilobytesPerSecond(load.bytesPerSecond) + " of the line's " +
           kilobytesPerSecond(load.lineBytesPerSecond) + " (" + share + ")";
}

}  // namespace dravik::profile
