#include "dravik/clock/ClockReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace dravik::clock {

namespace {

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string bitOf(uint32_t address) {
    return address == reg::kDemcr ? "DEMCR.TRCENA" : "DWT_CTRL.CYCCNTENA";
}

std::string whyStopped(CoreState core) {
    switch (core) {
        case CoreState::Halted:
            return "the core is halted";
        case CoreState::Sleeping:
            return "the core is asleep (WFI/WFE)";
        case CoreState::LockedUp:
            return "the core is locked up";
        case CoreState::InReset:
            return "the core is held in reset";
        case CoreState::Running:
            return "though the core runs (the firmware may have stopped it)";
        case CoreState::Unknown:
            break;
    }
    return "the core is halted or asleep";
}

}  // namespace

std::string formatHz(uint32_t hz) {
    struct Unit {
        uint32_t scale;
        const char* name;
    };
    static constexpr Unit kUnits[] = {{1000000, "MHz"}, {1000, "kHz"}, {1, "Hz"}};
    for (const Unit& unit : kUnits) {
        if (hz < unit.scale && unit.scale != 1) {
            continue;
        }
        std::string text = std::to_string(hz / unit.scale);
        if (const uint32_t rest = hz % unit.scale) {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%0*u", unit.scale == 1000000 ? 6 : 3, rest);
            std::string fraction(digits);
            fraction.erase(fraction.find_last_not_of('0') + 1);
            text += "." + fraction;
        }
        return text + " " + unit.name;
    }
    return "0 Hz";
}

std::string formatUncertainty(double uncertainty) {
    const double hundredths = std::max(1.0, std::ceil(uncertainty * 1e4 - 1e-9));
    char text[32];
    std::snprintf(text, sizeof text, "%.2f %%", hundredths / 100.0);
    return text;
}

std::string describeClockFailure(const ClockMeasurement& m) {
    const RegisterProblem& p = m.problem;
    switch (m.outcome) {
        case ClockOutcome::Measured:
            return {};
        case ClockOutcome::Imprecise:
            return "the measurement scattered by +- " + formatUncertainty(m.uncertainty) +
                   ", too much to rely on (a slow or busy link)";
        case ClockOutcome::NoCycleCounter:
            return "the core has no cycle counter (DWT_CTRL.NOCYCCNT is set)";
        case ClockOutcome::NotEnabled:
            return bitOf(p.address) + " did not stay set (read back " + hex32(p.readBack) + ")";
        case ClockOutcome::AccessFailed:
            return std::string(p.write ? "writing " : "reading ") + reg::describe(p.address) +
                   " failed with " + std::to_string(p.result);
        case ClockOutcome::CounterStopped:
            return "the cycle counter did not count, " + whyStopped(m.core);
        case ClockOutcome::Unsteady:
            return "the cycle counter did not count steadily (" +
                   std::to_string(m.intervalsAgreeing) + " of " + std::to_string(m.intervals) +
                   " intervals agree): the core halted or slept while it was measured";
    }
    return {};
}

std::string formatClockMeasurement(const ClockMeasurement& m) {
    char measured[96];
    std::snprintf(measured, sizeof measured, "target clock: measured %.3f MHz +- %s",
                  m.measuredHz / 1e6, formatUncertainty(m.uncertainty).c_str());
    switch (m.outcome) {
        case ClockOutcome::Measured:
            return std::string(measured) + ", using " + formatHz(m.usedHz);
        case ClockOutcome::Imprecise:
            return std::string(measured) + ", too imprecise to use";
        default:
            return "target clock: not measured: " + describeClockFailure(m);
    }
}

}  // namespace dravik::clock
