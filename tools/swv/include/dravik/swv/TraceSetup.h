// The trace setup shared by capture and doctor: the rate chosen from the options, and
// DravikSetupDevice with what follows it (synchronisation packets, local timestamps, the
// read-back for the recording).
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

struct TraceRequest {
    uint32_t stimulusMask = 0xFFFFFFFF;
    TxMode mode = TxMode::Nrz;
    bool timestamps = false;  // ITM local timestamps (ITM_TCR.TSENA)
    bool sync = true;         // synchronisation packets (DWT_CTRL.SYNCTAP, ITM_TCR.SYNCENA)
};

struct SetupResult {
    int fifoSize = 0;
    std::optional<uint32_t> pinProtocol;  // TPIU_SPPR & 3 after setup
    std::optional<uint32_t> itmTcr;       // ITM_TCR after setup (and after TSENA, SYNCENA)
    bool syncOn = false;                  // synchronisation packets are sent
};

// DravikSetupDevice with the chosen rate; then, as asked, turns on synchronisation packets and
// local timestamps, each written and read back. Timestamps that do not take fail the setup
// (nullopt, after reporting); synchronisation that does not take is warned of only, since the
// trace is readable without it.
std::optional<SetupResult> setUpTrace(ProbeSession& session, const RateChoice& rate,
                                      const TraceRequest& request);

}  // namespace dravik::swv
