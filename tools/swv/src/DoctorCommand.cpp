// doctor: sets up trace as a capture would (unless told not to), with the clock given or measured
// and found on the trace, reads the trace registers back, listens to the trace for a moment and
// explains every setting that would keep trace from arriving or from being read, and a --clock
// that is not the core's.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "DravikTrace.h"
#include "dravik/clock/ClockReport.h"
#include "dravik/swv/Commands.h"
#include "dravik/swv/ProbeSession.h"
#include "dravik/swv/TraceClock.h"
#include "dravik/swv/TraceDoctor.h"
#include "dravik/swv/TraceListening.h"
#include "dravik/swv/TraceSetup.h"

namespace dravik::swv {

namespace {

struct RegisterRow {
    const char* name;
    uint32_t address;
    std::optional<uint32_t> TraceRegisters::*field;
};

constexpr RegisterRow kRows[] = {
    {"DEMCR", reg::kDemcr, &TraceRegisters::demcr},
    {"ITM_LSR", reg::kItmLsr, &TraceRegisters::itmLsr},
    {"ITM_TCR", reg::kItmTcr, &TraceRegisters::itmTcr},
    {"ITM_TER0", reg::kItmTer0, &TraceRegisters::itmTer0},
    {"ITM_TPR", reg::kItmTpr, &TraceRegisters::itmTpr},
    {"DWT_CTRL", reg::kDwtCtrl, &TraceRegisters::dwtCtrl},
    {"TPIU_ACPR", reg::kTpiuAcpr, &TraceRegisters::tpiuAcpr},
    {"TPIU_SPPR", reg::kTpiuSppr, &TraceRegisters::tpiuSppr},
    {"TPIU_TYPE", reg::kTpiuType, &TraceRegisters::tpiuType},
    {"TPIU_FFCR", reg::kTpiuFfcr, &TraceRegisters::tpiuFfcr},
};

std::string describeRow(const RegisterRow& row, uint32_t value, uint32_t clockHz) {
    if (row.address == reg::kDemcr) {
        return (value & reg::kDemcrTrcena) != 0 ? "TRCENA=1" : "TRCENA=0";
    }
    if (row.address == reg::kItmLsr) {
        return describeItmLsr(value);
    }
    if (row.address == reg::kItmTcr) {
        return describeItmTcr(value);
    }
    if (row.address == reg::kItmTer0) {
        return "enabled ports: " + describePortSet(value);
    }
    if (row.address == reg::kItmTpr) {
        return "privileged-only port groups: " + describePortSet(value & 0xFu);
    }
    if (row.address == reg::kDwtCtrl) {
        return describeDwtCtrl(value);
    }
    if (row.address == reg::kTpiuAcpr) {
        return describeTpiuAcpr(value, clockHz);
    }
    if (row.address == reg::kTpiuSppr) {
        return describeTpiuSppr(value);
    }
    if (row.address == reg::kTpiuType) {
        return describeTpiuType(value);
    }
    return describeTpiuFfcr(value);
}

// What setting the trace up found before the registers are read back.
struct DoctorSetup {
    std::optional<RateChoice> rate;  // of the last setup made
    // The trace still to be listened to: the given clock's setup succeeded.
    bool listen = false;
    std::optional<Listening> heard;  // the kept clock's trial, when the clock was found
    std::vector<Finding> clockFindings;
};

// Lets the target run, measures its clock and sets the trace up: at the given clock (compared
// with the measured one), or at the clock found on the trace. nullopt when the target did not run.
std::optional<DoctorSetup> setUp(ToolEnvironment& env, ProbeSession& session,
                                 const DoctorOptions& options,
                                 const std::optional<RateChoice>& given) {
    // The cycle counter counts only while the core runs, and the listening needs it running too.
    if (!session.runTarget()) {
        return std::nullopt;
    }
    DoctorSetup done;
    const clock::ClockMeasurement measured = measureCoreClock(env);
    const TraceRequest request{options.stimulusMask, options.mode, false, !options.noSync};
    if (!measured.usable()) {
        done.clockFindings.push_back(
            explainUnmeasuredClock(clock::describeClockFailure(measured), given.has_value()));
    } else if (given) {
        if (std::optional<Finding> differs =
                explainGivenClock(given->clockHz, measured.measuredHz)) {
            done.clockFindings.push_back(*differs);
        }
    }
    if (given) {
        done.rate = given;
        // A failed setup is what the read-back is there to explain.
        done.listen = setUpTrace(session, *given, request).has_value();
        return done;
    }
    if (!measured.usable()) {
        env.message(
            "dravik-swv: no trace setup (no clock to set it up for): the registers as the "
            "connection left them\n");
        return done;
    }
    TraceClockSearch search =
        findTraceClock(env, session, options.rate, request, measured.usedHz, false);
    const ClockDiscovery& found = search.discovery;
    for (const ClockTrial& trial : found.trials) {
        if (trial.judgement != TrialJudgement::Skipped) {
            done.rate = trial.rate;
        }
    }
    // The trials listened already: the kept one's verdict is the doctor's.
    if (found.kept()) {
        done.heard = std::move(search.listening);
    } else if (found.outcome != ClockDiscovery::Outcome::Aborted) {
        done.clockFindings.push_back(
            {Severity::Blocking,
             std::string(found.outcome == ClockDiscovery::Outcome::NoneUsable
                             ? "no clock tried gives the SWO rate within 3 %: "
                             : "the trace decodes at none of the clocks tried: ") +
                 describeClocksTried(found),
             "give the clock the TPIU divides with --clock HZ"});
    }
    return done;
}

}  // namespace

int runDoctor(ToolEnvironment& env, const DoctorOptions& options) {
    const bool setup = !options.noSetup &&
                       (options.rate.prescaler.has_value() || options.rate.rateBps.has_value());
    // A given clock is checked before anything is touched; a measured one once the target runs.
    std::optional<RateChoice> given;
    if (setup && !options.rate.measureClock()) {
        given = chooseRate(env, options.rate);
        if (!given) {
            return kExitUsage;
        }
    }
    ProbeSession session(env, options.verbose);
    if (!session.require(
            {EntryPoint::EnumerateDevices, EntryPoint::SelectDevice, EntryPoint::CloseDevice}) ||
        (setup && !session.require({EntryPoint::SetupDevice, EntryPoint::StopSwvRead,
                                    EntryPoint::RunDevice, EntryPoint::ReadSwvData}))) {
        return kExitFailure;
    }
    const std::optional<std::string> serial = session.chooseSerial(options.selection.serial);
    if (!serial || !session.select(*serial, options.selection)) {
        return kExitFailure;
    }
    DoctorSetup done;
    if (setup) {
        std::optional<DoctorSetup> made = setUp(env, session, options, given);
        if (!made) {
            return kExitFailure;
        }
        done = std::move(*made);
    } else {
        env.message(
            "dravik-swv: no trace setup (no --swo-rate or --prescaler, or --no-setup): the "
            "registers as the connection left them\n");
    }
    const uint32_t clockHz = done.rate ? done.rate->clockHz : 0;

    TraceRegisters registers;
    std::string table;
    for (const RegisterRow& row : kRows) {
        uint32_t value = 0;
        char line[200];
        if (session.readRegister(row.address, row.name, value)) {
            registers.*row.field = value;
            std::snprintf(line, sizeof line, "%-10s 0x%08X  %s\n", row.name, value,
                          describeRow(row, value, clockHz).c_str());
        } else {
            std::snprintf(line, sizeof line, "%-10s (not read)\n", row.name);
        }
        table += line;
    }
    env.out << table << "\n";

    TraceExpectations expected;
    expected.clockHz = clockHz;
    expected.rateBps = done.rate ? receiverRate(*done.rate) : 0;
    expected.portMask = options.stimulusMask;
    std::vector<Finding> findings = explainTraceRegisters(registers, expected);
    findings.insert(findings.end(), done.clockFindings.begin(), done.clockFindings.end());
    // The registers can all look right with a wrong --clock: only the trace itself tells.
    if (done.listen) {
        done.heard = listenToTrace(env, session, *done.rate, options.stimulusMask, false);
    }
    if (done.heard) {
        findings.push_back(explainListening(done.heard->verdict, done.heard->seconds,
                                            done.heard->packets, clockHz));
    }
    bool blocking = false;
    for (const Finding& finding : findings) {
        blocking = blocking || finding.severity == Severity::Blocking;
        env.out << severityName(finding.severity) << ": " << finding.text << "\n";
        if (!finding.hint.empty()) {
            env.out << "  " << finding.hint << "\n";
        }
    }
    if (!blocking) {
        env.out << "nothing found that would keep trace from arriving\n";
    }
    env.out.flush();
    return blocking ? kExitFailure : kExitOk;
}

}  // namespace dravik::swv
