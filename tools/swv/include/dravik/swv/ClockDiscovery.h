// Which clock the TPIU divides, decided on the trace itself. The core clock can be measured, but
// some parts feed the TPIU a divided clock, so the measured value is the first guess only: the
// trace is set up for it and listened to for a moment, and when those bytes do not decode, the
// clocks a TPIU is likely fed are tried in turn. The first that decodes is kept.
//
// This is the decision alone, without a probe or a terminal: the caller's TrialRunner sets the
// trace up and listens, and the texts below say what happened.
//
//     const auto candidates = clockCandidates(measurement.usedHz, options.clockCandidates);
//     const ClockDiscovery found = discoverTraceClock(candidates, options, runner);
//     if (found.kept()) { capture at found.keptTrial().rate; } else { fail }
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "dravik/swv/Options.h"
#include "dravik/swv/RateSolver.h"
#include "dravik/swv/StreamHealth.h"

namespace dravik::swv {

enum class CandidateOrigin : uint8_t {
    Measured,     // the core clock as measured
    CoreDivided,  // the core clock over `divisor`
    Listed,       // --clock-candidates
};

struct ClockCandidate {
    uint32_t hz = 0;
    CandidateOrigin origin = CandidateOrigin::Measured;
    unsigned divisor = 1;
};

// The core clock, then the core clock / 2 and / 4, then `listed` in the order given; a clock that
// is already in the list is not tried twice, and none below 1 Hz.
std::vector<ClockCandidate> clockCandidates(uint32_t coreHz, const std::vector<uint32_t>& listed);

// "72 MHz", "36 MHz (core clock / 2)", "12 MHz (from --clock-candidates)".
std::string describeCandidate(const ClockCandidate& candidate);

// What a trial's short listen says about its clock.
enum class TrialJudgement : uint8_t {
    Skipped,       // not tried: no divider gives --swo-rate within 3 % from this clock
    Decodes,       // enough trace arrived, and it decodes
    Corrupt,       // the bytes do not decode: the line's rate is not the probe's
    Inconclusive,  // no trace, or too little to judge
};

// Overflows and packets on other ports are no sign of a wrong rate: such a stream decodes.
TrialJudgement judgeTrial(const HealthVerdict& verdict);

struct ClockTrial {
    ClockCandidate candidate;
    RateChoice rate;  // for a skipped trial, the closest there is
    TrialJudgement judgement = TrialJudgement::Skipped;
    HealthVerdict verdict;
    bool kept = false;  // the search ends with this clock
};

struct ClockDiscovery {
    enum class Outcome : uint8_t {
        Confirmed,    // the kept clock's trace decodes
        Unconfirmed,  // the first clock tried is kept: nothing arrived to judge, nothing argued
                      // against it
        NoneDecodes,  // every clock tried gave bytes that do not decode, or none to judge
        NoneUsable,   // no clock gives --swo-rate within 3 %: nothing was tried
        Aborted,      // a trial's call failed (the runner reported it)
    };
    Outcome outcome = Outcome::NoneUsable;
    std::vector<ClockTrial> trials;  // in the order made; the kept one is the last

    bool kept() const { return outcome == Outcome::Confirmed || outcome == Outcome::Unconfirmed; }
    const ClockTrial& keptTrial() const { return trials.back(); }
};

// Sets the trace up for the rate and listens; nullopt when a call failed, which ends the search.
using ClockTrialRunner =
    std::function<std::optional<HealthVerdict>(const ClockCandidate&, const RateChoice&)>;

// Each trial once decided, skipped ones too, so the caller can say so as it happens.
using ClockTrialObserver = std::function<void(const ClockTrial&)>;

// Tries the candidates in order at the rate the options ask for (--swo-rate solved again for each
// clock, or --prescaler as given) and stops at the first that decodes, so the trace is left set
// up for the kept clock. A clock whose rate is off by more than 3 % is skipped unless --force.
ClockDiscovery discoverTraceClock(const std::vector<ClockCandidate>& candidates,
                                  const RateOptions& request, const ClockTrialRunner& run,
                                  const ClockTrialObserver& onTrial = {});

// One line per trial, without "dravik-swv: " or a newline (short: the rate line before it shows
// the clock's divider):
//   "trace clock 48 MHz: 4096 bytes, and they decode"
//   "trace clock 72 MHz: does not decode (13.9 % formed no packet)"
//   "trace clock 48 MHz: not confirmed: no trace arrived"
//   "trace clock 12 MHz: skipped: no prescaler gives 2000000 bit/s within 3 % (the closest ...)"
std::string describeTrial(const ClockTrial& trial);

// "tried the measured 72 MHz, 36 MHz (core clock / 2); skipped for the rate: 18 MHz (core clock
// / 4)": what a search that kept nothing went through.
std::string describeClocksTried(const ClockDiscovery& discovery);

// What was decided, for the user, after the trials' lines: "using trace clock 36 MHz, the core
// clock / 2\n"; nothing for a clock confirmed at the first try; for a failure, what was measured,
// what was tried and what to do (the lines after the first start with two spaces).
std::string describeDiscovery(const ClockDiscovery& discovery);

}  // namespace dravik::swv
