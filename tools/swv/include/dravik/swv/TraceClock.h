// The clock the TPIU divides, for a capture or doctor run without --clock: the core clock measured
// through the probe (tools/clock), then tried on the trace itself (ClockDiscovery), each step said
// on stderr as it happens. Only the wiring is here; the decisions live in those two.
#pragma once

#include <cstdint>
#include <optional>

#include "dravik/clock/ClockMeasurement.h"
#include "dravik/swv/ClockDiscovery.h"
#include "dravik/swv/Commands.h"
#include "dravik/swv/ProbeSession.h"
#include "dravik/swv/TraceListening.h"
#include "dravik/swv/TraceSetup.h"

namespace dravik::swv {

// Measures the core clock through the device object's register access, timed against
// env.cycleCounterClock (else env.clock), and prints its line ("dravik-swv: target clock: measured
// 71.998 MHz +- 0.02 %, using 72 MHz"). The core must run.
clock::ClockMeasurement measureCoreClock(ToolEnvironment& env);

struct TraceClockSearch {
    ClockDiscovery discovery;
    // The last setup made and what its trial heard: the kept clock's when one was kept (the search
    // ends with it).
    std::optional<SetupResult> setup;
    std::optional<Listening> listening;
    int64_t startWallUs = 0;  // wall clock when that trial's listening began
};

// Tries the clocks the measured core clock suggests, then --clock-candidates, on the trace: each is
// set up (the rate solved again for it) and listened to; the first whose trace decodes is kept,
// with the trace left set up for it and the receiver running. The target must run. Prints each
// trial and the outcome; `capturing`: the lines say which trial's bytes the capture keeps.
TraceClockSearch findTraceClock(ToolEnvironment& env, ProbeSession& session,
                                const RateOptions& options, const TraceRequest& request,
                                uint32_t coreHz, bool capturing);

// The trace set up and the target running, at the given clock or at the one found on the trace.
struct TraceStart {
    // The clock the trace runs at and its divider: from here on the one place the clock is held,
    // whether given or found (the recording, timestamps and advice take it from here).
    RateChoice rate;
    SetupResult setup;
    // The trial of a clock found: its reads are the capture's first, and the capture's host times
    // count from its start.
    std::optional<Listening> trial;
    int64_t trialWallUs = 0;  // wall clock when the trial began
};

// For a capture without --clock: lets the target run, measures its clock and finds the trace clock
// (findTraceClock, keeping the trial's reads). nullopt after saying why.
std::optional<TraceStart> startAtMeasuredClock(ProbeSession& session, const RateOptions& options,
                                               const TraceRequest& request);

}  // namespace dravik::swv
