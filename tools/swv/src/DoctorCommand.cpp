// doctor: sets up trace as a capture would (unless told not to), reads the trace registers back,
// listens to the trace for a moment and explains every setting that would keep trace from
// arriving or from being read.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "DravikTrace.h"
#include "dravik/swv/Commands.h"
#include "dravik/swv/PollInterval.h"
#include "dravik/swv/ProbeSession.h"
#include "dravik/swv/TraceDoctor.h"
#include "dravik/swv/TracePipeline.h"
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

// Long enough for a few KiB at common rates, short enough not to be waited for; it ends sooner
// once the health check has two windows to judge.
constexpr uint64_t kListenUs = 250000;
constexpr uint64_t kListenEnoughBytes = 2 * StreamHealth::kWindowBytes;

struct Listening {
    HealthVerdict verdict;
    uint64_t packets = 0;
    double seconds = 0;
};

// Lets the target run and reads what arrives, as a capture would, for a moment. nullopt after a
// failed call (reported).
std::optional<Listening> listen(ToolEnvironment& env, ProbeSession& session, const RateChoice& rate,
                                uint32_t stimulusMask) {
    int coreStatus = 0;
    const int runResult = env.api.runDevice(&coreStatus);
    session.showStep("DravikRunDevice");
    if (runResult != DRAVIK_OK) {
        session.reportFailure("DravikRunDevice", runResult);
        return std::nullopt;
    }
    PipelineConfig config;
    config.quiet = true;
    config.enabledMask = stimulusMask;
    TracePipeline pipeline(config, nullptr);
    // Polled often enough that the probe's buffer cannot fill at the line's full rate.
    const uint64_t pauseUs =
        PollInterval(DRAVIK_TRACE_BUFFER_SIZE, swoLineBytesPerSecond(rate.actualBps)).ceilingUs();
    std::vector<char> buffer(DRAVIK_TRACE_BUFFER_SIZE + 96);
    const uint64_t startUs = env.clock.nowUs();
    while (env.clock.nowUs() - startUs < kListenUs &&
           pipeline.counters().bytes < kListenEnoughBytes && !env.stopRequested()) {
        int length = static_cast<int>(buffer.size());
        const int result = env.api.readSwvData(buffer.data(), 0, &length);
        const uint64_t hostUs = env.clock.nowUs() - startUs;
        if (result == DRAVIK_OK) {
            pipeline.data(reinterpret_cast<const uint8_t*>(buffer.data()),
                          static_cast<size_t>(std::max(0, length)), hostUs);
        } else if (result == DRAVIK_REFUSED) {
            pipeline.gap(GapCause::ProbeDropped, 0, hostUs);
        } else {
            session.reportFailure("DravikReadSWVData", result);
            return std::nullopt;
        }
        env.clock.sleepUs(pauseUs);
    }
    pipeline.finish();
    Listening listening;
    listening.verdict = pipeline.health().verdict();
    listening.packets = pipeline.counters().packets;
    listening.seconds = static_cast<double>(env.clock.nowUs() - startUs) / 1e6;
    return listening;
}

}  // namespace

int runDoctor(ToolEnvironment& env, const DoctorOptions& options) {
    const bool setup = !options.noSetup && options.rate.clockHz != 0;
    std::optional<RateChoice> rate;
    if (setup) {
        rate = chooseRate(env, options.rate);
        if (!rate) {
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
    bool traceRunning = false;
    if (setup) {
        // A failed setup is what the read-back below is there to explain.
        traceRunning =
            setUpTrace(session, *rate,
                       TraceRequest{options.stimulusMask, options.mode, false, !options.noSync})
                .has_value();
    } else {
        env.message(
            "dravik-swv: no trace setup (no --clock, or --no-setup): the registers as "
            "the connection left them\n");
    }

    TraceRegisters registers;
    std::string table;
    for (const RegisterRow& row : kRows) {
        uint32_t value = 0;
        char line[200];
        if (session.readRegister(row.address, row.name, value)) {
            registers.*row.field = value;
            std::snprintf(line, sizeof line, "%-10s 0x%08X  %s\n", row.name, value,
                          describeRow(row, value, options.rate.clockHz).c_str());
        } else {
            std::snprintf(line, sizeof line, "%-10s (not read)\n", row.name);
        }
        table += line;
    }
    env.out << table << "\n";

    TraceExpectations expected;
    expected.clockHz = options.rate.clockHz;
    expected.rateBps = rate ? receiverRate(*rate) : 0;
    expected.portMask = options.stimulusMask;
    std::vector<Finding> findings = explainTraceRegisters(registers, expected);
    // The registers can all look right with a wrong --clock: only the trace itself tells.
    if (traceRunning) {
        if (const std::optional<Listening> heard =
                listen(env, session, *rate, options.stimulusMask)) {
            findings.push_back(explainListening(heard->verdict, heard->seconds, heard->packets,
                                                options.rate.clockHz));
        }
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
