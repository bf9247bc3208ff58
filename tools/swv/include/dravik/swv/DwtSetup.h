// DWT trace for a capture: PC sampling and exception trace. The sampling is chosen from the clock
// and weighed against the SWO line before the probe is touched; after DravikSetupDevice it is
// set up through register writes that are read back, and ITM_TCR.DWTENA lets the DWT's packets
// through the ITM.
#pragma once

#include <cstdint>
#include <optional>

#include "dravik/profile/SamplingSetup.h"
#include "dravik/swv/Commands.h"
#include "dravik/swv/ProbeSession.h"
#include "dravik/swv/RateSolver.h"

namespace dravik::swv {

// Without --pc-sampling, top samples this often, or less where the line is slow (see below).
inline constexpr double kDefaultPcSamplesPerSecond = 10000;
// The share of the SWO line the default rate leaves to PC samples, so that instrumentation and
// exception packets have room.
inline constexpr double kDefaultPcLineShare = 0.25;

struct DwtPlan {
    std::optional<profile::PcSampling> pc;
    bool exceptionTrace = false;
    std::optional<profile::SwoLoad> load;  // of the PC samples, when sampling

    bool any() const { return pc || exceptionTrace; }
};

// The sampling for the rate's clock, which is taken to be the core clock as well (CYCCNT counts
// the core clock; the TPIU is fed from the same clock on common parts). Says on `env.err` what
// it chose and what the samples ask of the line: a warning above half of it. nullopt, after
// saying why, for a rate the DWT cannot make at this clock or one the line cannot carry.
// Exception packets are left out of the estimate: how often they come is the firmware's affair.
std::optional<DwtPlan> planDwtTrace(ToolEnvironment& env, const RateChoice& rate,
                                    const DwtOptions& options, bool timestamps);

// After setUpTrace(): checks DWT_CTRL for the features, writes and reads back each of its
// writes, then sets ITM_TCR.DWTENA and reads it back. Returns ITM_TCR as it then reads, or
// nullopt after reporting what did not take.
std::optional<uint32_t> setUpDwtTrace(ProbeSession& session, const DwtPlan& plan);

}  // namespace dravik::swv
