// The trace setup shared by capture and doctor: the rate chosen from the options, and
// DravikSetupDevice with what follows it (local timestamps, the read-back for the recording).
#pragma once

#include <cstdint>
#include <optional>

#include "dravik/swv/Commands.h"
#include "dravik/swv/ProbeSession.h"
#include "dravik/swv/RateSolver.h"

namespace dravik::swv {

// The rate of --prescaler, or the prescaler solved for --swo-rate; says which on `env.err`.
// nullopt, after saying why, when the request cannot be met (error above 3 % without --force).
std::optional<RateChoice> chooseRate(ToolEnvironment& env, const RateOptions& options);

struct SetupResult {
    int fifoSize = 0;
    std::optional<uint32_t> pinProtocol;  // TPIU_SPPR & 3 after setup
    std::optional<uint32_t> itmTcr;       // ITM_TCR after setup (and after TSENA)
};

// DravikSetupDevice with the chosen rate; with `timestamps` then sets ITM_TCR.TSENA and checks
// it took. nullopt after reporting a failure.
std::optional<SetupResult> setUpTrace(ProbeSession& session, const RateChoice& rate,
                                      uint32_t stimulusMask, TxMode mode, bool timestamps);

}  // namespace dravik::swv
