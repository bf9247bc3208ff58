// doctor: sets up trace as a capture would (unless told not to), reads the trace registers back
// and explains every setting that would keep trace from arriving.
#include <cstdio>

#include "DravikTrace.h"
#include "dravik/swv/Commands.h"
#include "dravik/swv/ProbeSession.h"
#include "dravik/swv/TraceDoctor.h"
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
        (setup && !session.require({EntryPoint::SetupDevice, EntryPoint::StopSwvRead}))) {
        return kExitFailure;
    }
    const std::optional<std::string> serial = session.chooseSerial(options.selection.serial);
    if (!serial || !session.select(*serial, options.selection)) {
        return kExitFailure;
    }
    if (setup) {
        // A failed setup is what the read-back below is there to explain.
        setUpTrace(session, *rate, options.stimulusMask, options.mode, false);
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
    const std::vector<Finding> findings = explainTraceRegisters(registers, expected);
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
