#pragma once
// What the simulated firmware looks like to the DWT's trace packets: where its PC samples fall
// (a statistical profile) and which exceptions it takes, how often and for how long. The model
// executes no code, so these stand in for a running program. Plain data; filled by tests,
// benchmarks or the bench's loader.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dravik::sim {

// Code the PC samples fall in, in proportion to `weight`.
struct PcRange {
    uint32_t start = 0;  // first byte
    uint32_t end = 0;    // one past the last byte; above start
    double weight = 0;   // relative to the other ranges' weights; 0 or more
    std::string name;    // a label (a function name, say) for descriptions; the model ignores it
};

// Where the DWT's periodic PC samples fall. Each sample is a sleep sample with probability
// sleepShare, otherwise a PC in one of the ranges, chosen by weight, at a halfword step from its
// start drawn uniformly (Thumb code lies on halfwords). The draws come from a generator started
// from `seed` at power-on, so a bench replays the same samples on every run.
struct PcProfile {
    std::vector<PcRange> ranges;
    double sleepShare = 0;  // 0 to 1: the share of samples taken while the core sleeps
    uint64_t seed = 1;
};

// An exception the firmware takes periodically: an interrupt, SysTick, PendSV, ...
//
// It becomes pending every periodCycles of running core time (sleep included; halted and reset
// time do not count), the first time firstCycles after the core leaves reset. A pending
// exception is entered as soon as no handler runs or the one running has a lower priority (a
// higher number): at once, preempting that handler, or when the handler it waits behind exits,
// tail-chained without a return in between. Its handler runs for durationCycles of its own; time
// in handlers that preempt it comes on top. Becoming pending while still pending is lost, as an
// NVIC has one pending bit per exception. Between equal priorities the lower number goes first.
struct ExceptionSource {
    uint16_t number = 15;         // 2 (NMI) to 511; 15 is SysTick, 16 + n external interrupt n
    uint64_t periodCycles = 0;    // at least 1
    uint64_t durationCycles = 0;  // at least 1
    std::optional<uint64_t> firstCycles;  // unset: one period
    uint8_t priority = 0;                 // 0 (highest) to 255; 0 is what every priority resets to
};

// What the description of a profile or of exceptions gets wrong: the key at fault, relative to
// the target ("pcProfile.ranges[1].end", "exceptions[0].periodCycles"), and why. Both empty when
// nothing is wrong.
struct DwtTraceProblem {
    std::string key;
    std::string what;

    bool empty() const { return key.empty() && what.empty(); }
};

DwtTraceProblem describeDwtTraceProblem(const std::optional<PcProfile>& profile,
                                        const std::vector<ExceptionSource>& exceptions);

}  // namespace dravik::sim
