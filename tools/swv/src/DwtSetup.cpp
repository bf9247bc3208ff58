#include "dravik/swv/DwtSetup.h"

#include <cstdio>
#include <string>

#include "dravik/swv/TraceRegisterMap.h"

namespace dravik::swv {

namespace {

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

profile::SwoLoad pcLoad(const RateChoice& rate, const profile::PcSampling& pc, bool timestamps) {
    profile::SwoLoadRequest request;
    request.lineBitsPerSecond = rate.actualBps;
    request.pcSamplesPerSecond = pc.samplesPerSecond;
    // TSPrescale is not known before the setup; undivided ticks make the longer timestamps.
    request.timestampHz = timestamps ? static_cast<double>(rate.clockHz) : 0;
    return profile::estimateSwoLoad(request);
}

// The next slower of the DWT's 32 sampling periods, or nullopt at the slowest.
std::optional<profile::PcSampling> slower(const profile::PcSampling& pc) {
    uint32_t next = 0;
    for (uint32_t tap : {64u, 1024u}) {
        for (uint32_t preset = 0; preset < 16; ++preset) {
            const uint32_t cycles = (preset + 1) * tap;
            if (cycles > pc.cyclesPerSample && (next == 0 || cycles < next)) {
                next = cycles;
            }
        }
    }
    if (next == 0) {
        return std::nullopt;
    }
    std::string unused;
    return profile::choosePcSampling(pc.clockHz, static_cast<double>(pc.clockHz) / next, unused);
}

// The default rate, or the fastest slower one whose samples stay within their share of the line
// (`lowered` says which).
std::optional<profile::PcSampling> defaultSampling(const RateChoice& rate, bool timestamps,
                                                   bool& lowered, std::string& error) {
    const double fastest = static_cast<double>(rate.clockHz) / profile::dwt::kMinCyclesPerSample;
    const double slowest = static_cast<double>(rate.clockHz) / profile::dwt::kMaxCyclesPerSample;
    double wanted = kDefaultPcSamplesPerSecond;
    wanted = wanted > fastest ? fastest : wanted < slowest ? slowest : wanted;
    std::optional<profile::PcSampling> pc = profile::choosePcSampling(rate.clockHz, wanted, error);
    while (pc && pcLoad(rate, *pc, timestamps).share > kDefaultPcLineShare) {
        std::optional<profile::PcSampling> next = slower(*pc);
        if (!next) {
            break;
        }
        pc = next;
        lowered = true;
    }
    return pc;
}

}  // namespace

std::optional<DwtPlan> planDwtTrace(ToolEnvironment& env, const RateChoice& rate,
                                    const DwtOptions& options, bool timestamps) {
    DwtPlan plan;
    plan.exceptionTrace = options.exceptionTrace;
    if (!options.pcSamplesPerSecond && !options.defaultPcSampling) {
        return plan;
    }
    std::string error;
    bool lowered = false;
    plan.pc = options.pcSamplesPerSecond
                  ? profile::choosePcSampling(rate.clockHz, *options.pcSamplesPerSecond, error)
                  : defaultSampling(rate, timestamps, lowered, error);
    if (!plan.pc) {
        env.message("dravik-swv: --pc-sampling: " + error + "\n");
        return std::nullopt;
    }
    plan.load = pcLoad(rate, *plan.pc, timestamps);
    std::string setting = profile::describePcSampling(*plan.pc);
    if (!options.pcSamplesPerSecond) {
        // Nothing was requested: the rate and its fields, and why this rate.
        setting = setting.substr(0, setting.find("), ") + 1) +
                  (lowered ? ": the default, lowered to keep within a quarter of the line"
                           : ": the default");
    }
    env.message("dravik-swv: PC sampling " + setting + "\n");
    const std::string load = profile::describeSwoLoad(*plan.load);
    switch (plan.load->verdict) {
        case profile::SwoLoad::Verdict::Fits:
            env.message("dravik-swv: PC samples take " + load + "\n");
            break;
        case profile::SwoLoad::Verdict::Heavy:
            env.message("dravik-swv: warning: PC samples take " + load +
                        ": other trace may overflow the line; a lower --pc-sampling or a faster "
                        "--swo-rate leaves room\n");
            break;
        case profile::SwoLoad::Verdict::Overloads:
            env.message("dravik-swv: PC samples would take " + load +
                        ": more than the SWO line carries; choose a lower --pc-sampling or a "
                        "faster --swo-rate\n");
            return std::nullopt;
    }
    return plan;
}

std::optional<uint32_t> setUpDwtTrace(ProbeSession& session, const DwtPlan& plan) {
    ToolEnvironment& env = session.env();
    uint32_t ctrl = 0;
    if (!session.readRegister(profile::dwt::kCtrl, "DWT_CTRL", ctrl)) {
        return std::nullopt;
    }
    const std::string missing =
        profile::dwtCapabilityError(ctrl, plan.pc.has_value(), plan.exceptionTrace);
    if (!missing.empty()) {
        env.message("dravik-swv: " + missing + "\n");
        return std::nullopt;
    }
    for (const profile::RegisterWrite& w :
         profile::dwtCtrlWrites(ctrl, plan.pc, plan.exceptionTrace)) {
        if (!session.writeRegister(profile::dwt::kCtrl, "DWT_CTRL", w.value) ||
            !session.readRegister(profile::dwt::kCtrl, "DWT_CTRL", ctrl)) {
            return std::nullopt;
        }
        if (((ctrl ^ w.value) & w.checkMask) != 0) {
            env.message("dravik-swv: DWT_CTRL did not take " + hex32(w.value) + " (it reads " +
                        hex32(ctrl) + ")\n");
            return std::nullopt;
        }
    }
    uint32_t tcr = 0;
    if (!session.readRegister(reg::kItmTcr, "ITM_TCR", tcr) ||
        !session.writeRegister(reg::kItmTcr, "ITM_TCR", tcr | reg::kItmTcrDwtena) ||
        !session.readRegister(reg::kItmTcr, "ITM_TCR", tcr)) {
        return std::nullopt;
    }
    if ((tcr & reg::kItmTcrDwtena) == 0) {
        env.message("dravik-swv: ITM_TCR.DWTENA did not take (ITM_TCR reads " + hex32(tcr) +
                    "): the DWT's packets cannot reach the ITM\n");
        return std::nullopt;
    }
    return tcr;
}

}  // namespace dravik::swv
