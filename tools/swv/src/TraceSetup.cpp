#include "dravik/swv/TraceSetup.h"

#include "DravikTrace.h"
#include "dravik/swv/FailureHints.h"
#include "dravik/swv/TraceRegisterMap.h"

namespace dravik::swv {

std::optional<RateChoice> chooseRate(ToolEnvironment& env, const RateOptions& options) {
    if (options.prescaler) {
        const std::optional<RateChoice> choice =
            rateForPrescaler(options.clockHz, *options.prescaler);
        if (!choice) {
            env.message("dravik-swv: --prescaler must lie in 1..65536\n");
            return std::nullopt;
        }
        env.message("dravik-swv: SWO rate " + describeRate(*choice) + "\n");
        return choice;
    }
    const std::optional<RateChoice> choice =
        solvePrescaler(options.clockHz, options.rateBps.value_or(0));
    if (!choice) {
        env.message("dravik-swv: --clock and --swo-rate must be above 0\n");
        return std::nullopt;
    }
    if (!choice->withinTolerance()) {
        if (!options.force) {
            env.message("dravik-swv: no prescaler gives " +
                        std::to_string(options.rateBps.value_or(0)) + " bit/s from " +
                        std::to_string(options.clockHz) + " Hz within 3 %: the closest is " +
                        describeRate(*choice) + "; use --force to accept it\n");
            return std::nullopt;
        }
        env.message("dravik-swv: SWO rate " + describeRate(*choice) + " (forced)\n");
        return choice;
    }
    env.message("dravik-swv: SWO rate " + describeRate(*choice) + "\n");
    return choice;
}

std::optional<SetupResult> setUpTrace(ProbeSession& session, const RateChoice& rate,
                                      uint32_t stimulusMask, TxMode mode, bool timestamps) {
    ToolEnvironment& env = session.env();
    SetupResult setup;
    session.beginCall();
    const int result = env.api.setupDevice(
        static_cast<int>(rate.clockHz), static_cast<int>(rate.prescaler),
        static_cast<int>(stimulusMask), static_cast<int>(mode), &setup.fifoSize);
    session.showStep("DravikSetupDevice");
    if (result != DRAVIK_OK) {
        CallFailure failed = session.failure("DravikSetupDevice", result);
        if (isNoTransmitMode(failed)) {
            uint32_t type = 0;
            const bool read = env.api.readDebugRegister(reg::kTpiuType, &type) == 0;
            failed.hint = transmitModeHint(read ? std::optional<uint32_t>(type) : std::nullopt);
        }
        session.report(failed);
        return std::nullopt;
    }
    // The setup's last step starts the receiver.
    session.setReceiverRunning(true);

    uint32_t tcr = 0;
    if (timestamps) {
        if (!session.readRegister(reg::kItmTcr, "ITM_TCR", tcr) ||
            !session.writeRegister(reg::kItmTcr, "ITM_TCR", tcr | reg::kItmTcrTsena) ||
            !session.readRegister(reg::kItmTcr, "ITM_TCR", tcr)) {
            return std::nullopt;
        }
        if ((tcr & reg::kItmTcrTsena) == 0) {
            env.message("dravik-swv: ITM_TCR.TSENA did not take (ITM_TCR reads " +
                        std::to_string(tcr) + "); the ITM may still be locked\n");
            return std::nullopt;
        }
        setup.itmTcr = tcr;
    } else if (env.api.readDebugRegister(reg::kItmTcr, &tcr) == 0) {
        setup.itmTcr = tcr;
    }
    uint32_t sppr = 0;
    if (env.api.readDebugRegister(reg::kTpiuSppr, &sppr) == 0) {
        setup.pinProtocol = sppr & 3u;
    }
    return setup;
}

}  // namespace dravik::swv
