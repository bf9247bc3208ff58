#include "dravik/swv/TraceSetup.h"

#include <cstdio>

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

namespace {

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

void warnNoSync(ToolEnvironment& env, const std::string& why) {
    env.message("dravik-swv: warning: no synchronisation packets: " + why +
                "; after a damaged byte the decoder may stay lost (--no-sync skips this)\n");
}

// The DWT's synchronisation tap: CYCCNT must count (CYCCNTENA) and SYNCTAP pick one of its bits.
// A tap the target chose already is kept. False, after a warning, when it cannot be had.
bool enableSyncTap(ToolEnvironment& env) {
    uint32_t ctrl = 0;
    int result = env.api.readDebugRegister(reg::kDwtCtrl, &ctrl);
    if (result != 0) {
        warnNoSync(env, "DWT_CTRL cannot be read (result " + std::to_string(result) + ")");
        return false;
    }
    if ((ctrl & reg::kDwtCtrlNoCyccnt) != 0) {
        warnNoSync(env, "this DWT has no cycle counter to tap (DWT_CTRL.NOCYCCNT is set)");
        return false;
    }
    uint32_t wanted = ctrl | reg::kDwtCtrlCyccntena;
    if ((ctrl & reg::kDwtCtrlSyncTapMask) == 0) {
        // The shortest period, every 2^24 cycles: the decoder finds its place soonest.
        wanted |= 1u << reg::kDwtCtrlSyncTapShift;
    }
    if (wanted != ctrl) {
        result = env.api.writeDebugRegister(reg::kDwtCtrl, wanted);
        if (result == 0) {
            result = env.api.readDebugRegister(reg::kDwtCtrl, &ctrl);
        }
        if (result != 0) {
            warnNoSync(env, "DWT_CTRL cannot be written (result " + std::to_string(result) + ")");
            return false;
        }
    }
    if ((ctrl & reg::kDwtCtrlCyccntena) == 0 || (ctrl & reg::kDwtCtrlSyncTapMask) == 0) {
        warnNoSync(env, "DWT_CTRL.CYCCNTENA and SYNCTAP did not take (DWT_CTRL reads " +
                            hex32(ctrl) + ")");
        return false;
    }
    return true;
}

}  // namespace

std::optional<SetupResult> setUpTrace(ProbeSession& session, const RateChoice& rate,
                                      const TraceRequest& request) {
    ToolEnvironment& env = session.env();
    SetupResult setup;
    session.beginCall();
    const int result = env.api.setupDevice(
        static_cast<int>(rate.clockHz), static_cast<int>(rate.prescaler),
        static_cast<int>(request.stimulusMask), static_cast<int>(request.mode), &setup.fifoSize);
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

    // The tap first: the ITM sends synchronisation packets only as the tap's bit toggles.
    const bool tap = request.sync && enableSyncTap(env);
    const uint32_t wanted =
        (request.timestamps ? reg::kItmTcrTsena : 0) | (tap ? reg::kItmTcrSyncena : 0);
    uint32_t tcr = 0;
    if (wanted != 0) {
        if (!session.readRegister(reg::kItmTcr, "ITM_TCR", tcr) ||
            !session.writeRegister(reg::kItmTcr, "ITM_TCR", tcr | wanted) ||
            !session.readRegister(reg::kItmTcr, "ITM_TCR", tcr)) {
            return std::nullopt;
        }
        if (request.timestamps && (tcr & reg::kItmTcrTsena) == 0) {
            env.message("dravik-swv: ITM_TCR.TSENA did not take (ITM_TCR reads " +
                        std::to_string(tcr) + "); the ITM may still be locked\n");
            return std::nullopt;
        }
        setup.syncOn = tap && (tcr & reg::kItmTcrSyncena) != 0;
        if (tap && !setup.syncOn) {
            warnNoSync(env, "ITM_TCR.SYNCENA did not take (ITM_TCR reads " + hex32(tcr) + ")");
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
