#include "dravik/swv/TraceClock.h"

#include "dravik/clock/ClockReport.h"
#include "dravik/clock/TargetRegisters.h"

namespace dravik::swv {

namespace {

// For a clock that could not be measured: what to do instead, after the measurement's line.
constexpr const char* kGiveClockAdvice =
    "  the clock could not be measured: give the clock the TPIU divides with --clock HZ\n";

// The target's registers as the measurement reaches them: the device object's debug register
// access on access port 0.
class ProbeRegisters final : public clock::TargetRegisters {
  public:
    explicit ProbeRegisters(TraceInterface& api) : api_(api) {}
    int read(uint32_t address, uint32_t& value) override {
        unsigned word = 0;
        const int result = api_.readDebugRegister(address, &word);
        value = word;
        return result;
    }
    int write(uint32_t address, uint32_t value) override {
        return api_.writeDebugRegister(address, value);
    }

  private:
    TraceInterface& api_;
};

}  // namespace

clock::ClockMeasurement measureCoreClock(ToolEnvironment& env) {
    ProbeRegisters registers(env.api);
    Clock& host = env.cycleCounterClock != nullptr ? *env.cycleCounterClock : env.clock;
    const clock::ClockMeasurement measurement = clock::measureTargetClock(registers, host);
    env.message("dravik-swv: " + clock::formatClockMeasurement(measurement) + "\n");
    return measurement;
}

TraceClockSearch findTraceClock(ToolEnvironment& env, ProbeSession& session,
                                const RateOptions& options, const TraceRequest& request,
                                uint32_t coreHz, bool capturing) {
    TraceClockSearch search;
    auto runTrial = [&](const ClockCandidate&,
                        const RateChoice& rate) -> std::optional<HealthVerdict> {
        announceRate(env, rate);
        search.listening.reset();
        // The receiver must start on an idle line: one started inside a frame reads garbage, and
        // a garbage byte can pass for a page change that moves every later packet to other ports
        // until the next synchronisation packet. So the core halts, the ITM's queue drains while
        // the setup's exchanges go by, and the core runs on once the receiver listens.
        if (!session.haltTarget()) {
            return std::nullopt;
        }
        search.setup = setUpTrace(session, rate, request);
        if (!search.setup || !session.runTarget()) {
            return std::nullopt;
        }
        search.startWallUs = wallClockUs();
        search.listening = listenToTrace(env, session, rate, request.stimulusMask, capturing);
        if (!search.listening) {
            return std::nullopt;
        }
        // A listen cut short by Ctrl-C proves nothing, and the user wants to stop.
        if (env.stopRequested()) {
            env.message("dravik-swv: stopped before the trace clock was found\n");
            return std::nullopt;
        }
        return search.listening->verdict;
    };
    auto report = [&](const ClockTrial& trial) {
        std::string text = "dravik-swv: " + describeTrial(trial) + "\n";
        // The kept trial begins the capture (the receiver runs on from it); the others' bytes
        // were read at another rate than the capture's.
        if (capturing && !trial.kept && trial.verdict.span.bytes != 0) {
            text += "  they are not part of the capture\n";
        }
        env.message(text);
    };
    search.discovery = discoverTraceClock(clockCandidates(coreHz, options.clockCandidates), options,
                                          runTrial, report);
    const std::string outcome = describeDiscovery(search.discovery);
    if (!outcome.empty()) {
        env.message("dravik-swv: " + outcome);
    }
    return search;
}

std::optional<TraceStart> startAtMeasuredClock(ProbeSession& session, const RateOptions& options,
                                               const TraceRequest& request) {
    ToolEnvironment& env = session.env();
    TraceStart start;
    // The cycle counter counts only while the core runs.
    if (!session.runTarget()) {
        return std::nullopt;
    }
    const clock::ClockMeasurement measured = measureCoreClock(env);
    if (!measured.usable()) {
        env.message(kGiveClockAdvice);
        return std::nullopt;
    }
    TraceClockSearch search = findTraceClock(env, session, options, request, measured.usedHz, true);
    if (!search.discovery.kept()) {
        return std::nullopt;
    }
    start.rate = search.discovery.keptTrial().rate;
    start.setup = *search.setup;
    start.trial = std::move(search.listening);
    start.trialWallUs = search.startWallUs;
    return start;
}

}  // namespace dravik::swv
