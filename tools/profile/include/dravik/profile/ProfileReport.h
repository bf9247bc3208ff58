// What the profile shows for one interval or for the whole run: where the PC samples fell and
// which exceptions fired, how often and for how long. Plain data, filled by Profiler and read by
// the renderers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dravik::profile {

enum class ReportScope : uint8_t {
    Interval,  // one interval: ProfileReport::interval is its number, from 1
    Run,       // every interval so far: ProfileReport::interval is how many there were
};

// Every share is of all PC samples (sleep and unknown ones included), as a fraction 0..1; the
// function shares, the sleep share and the unknown share add up to 1.
struct FunctionShare {
    std::string name;
    uint32_t address = 0;
    uint32_t size = 0;
    uint64_t samples = 0;
    double share = 0;
};

struct LineShare {
    std::string file;
    uint32_t line = 0;
    std::string function;  // the function holding the line's code; empty if none does
    uint64_t samples = 0;
    double share = 0;
};

struct ExceptionSummary {
    unsigned number = 0;
    std::string name;      // exceptionName(number)
    uint64_t count = 0;    // entries
    double perSecond = 0;  // count over the report's seconds (0 when they are 0)
    // Entry-to-exit times, from the pairs for which both local timestamps were known.
    uint64_t timed = 0;
    double meanTicks = 0;
    uint64_t maxTicks = 0;
    std::optional<double> meanSeconds;  // with a known timestamp clock
    std::optional<double> maxSeconds;
};

struct ProfileReport {
    ReportScope scope = ReportScope::Interval;
    uint64_t interval = 0;
    double seconds = 0;  // the time covered, as the caller measured it

    uint64_t samples = 0;  // every PC sample: in functions, sleeping, unknown
    uint64_t sleepSamples = 0;
    double sleepShare = 0;
    uint64_t unknownSamples = 0;  // awake, outside every function
    double unknownShare = 0;
    uint64_t overflows = 0;  // overflow packets: the target dropped trace
    uint64_t gaps = 0;       // stretches of trace the host lost

    // Functions with samples, most samples first (then by address).
    std::vector<FunctionShare> functions;
    // With line attribution on: lines with samples, most first (then by file and line), and the
    // awake samples that no line covers.
    bool hasLines = false;
    std::vector<LineShare> lines;
    uint64_t unknownLineSamples = 0;
    double unknownLineShare = 0;

    // Exceptions entered or timed, by number.
    std::vector<ExceptionSummary> exceptions;
    double timestampHz = 0;  // the clock the ticks count; 0 when not known
};

}  // namespace dravik::profile
