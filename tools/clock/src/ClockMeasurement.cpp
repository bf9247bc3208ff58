#include "dravik/clock/ClockMeasurement.h"

#include <algorithm>
#include <vector>

#include "dravik/clock/ClockEstimate.h"
#include "dravik/clock/ClockRounding.h"

namespace dravik::clock {

namespace {

constexpr unsigned kMinBursts = 3;

// Whether the counter read the same in every one of these bursts.
bool standsStill(const std::vector<ReadBurst>& bursts) {
    const uint32_t first = bursts.front().front().value;
    return std::all_of(bursts.begin(), bursts.end(), [first](const ReadBurst& burst) {
        return std::all_of(burst.begin(), burst.end(),
                           [first](const CounterRead& read) { return read.value == first; });
    });
}

// Reads, then writes `bits` into the register when they are not all set yet, and reads it back.
// Returns false with `problem` filled when an access fails (AccessFailed) or the bits do not stay
// (NotEnabled, `failure` says which).
bool setBits(TargetRegisters& registers, uint32_t address, uint32_t value, uint32_t bits,
             bool& changed, CycleCounterSetup& setup) {
    changed = false;
    if ((value & bits) == bits) {
        return true;
    }
    setup.problem.address = address;
    setup.problem.write = true;
    if ((setup.problem.result = registers.write(address, value | bits)) != 0) {
        return false;
    }
    setup.problem.write = false;
    uint32_t readBack = 0;
    if ((setup.problem.result = registers.read(address, readBack)) != 0) {
        return false;
    }
    if ((readBack & bits) != bits) {
        setup.failure = ClockOutcome::NotEnabled;
        setup.problem.readBack = readBack;
        return false;
    }
    setup.problem = {};
    changed = true;
    return true;
}

bool readRegister(TargetRegisters& registers, uint32_t address, uint32_t& value,
                  RegisterProblem& problem) {
    problem = {};
    problem.address = address;
    problem.result = registers.read(address, value);
    if (problem.result != 0) {
        return false;
    }
    problem = {};
    return true;
}

// DHCSR's run state. S_RESET_ST is sticky: it says the core is in reset only when a second read
// still shows it.
CoreState coreStateOf(TargetRegisters& registers) {
    uint32_t dhcsr = 0;
    if (registers.read(reg::kDhcsr, dhcsr) != 0) {
        return CoreState::Unknown;
    }
    if (dhcsr & reg::kDhcsrSHalt) {
        return CoreState::Halted;
    }
    if (dhcsr & reg::kDhcsrSLockup) {
        return CoreState::LockedUp;
    }
    if (dhcsr & reg::kDhcsrSSleep) {
        return CoreState::Sleeping;
    }
    if ((dhcsr & reg::kDhcsrSResetSt) && registers.read(reg::kDhcsr, dhcsr) == 0 &&
        (dhcsr & reg::kDhcsrSResetSt)) {
        return CoreState::InReset;
    }
    return CoreState::Running;
}

}  // namespace

ClockMeasurement measureCycleCounter(const CounterReader& readCounter, HostClock& host,
                                     const MeasureOptions& options) {
    ClockMeasurement m;
    const unsigned burstCount = std::max(options.bursts, kMinBursts);
    const unsigned readsPerBurst = std::max(options.readsPerBurst, 1u);
    const uint64_t startUs = host.nowUs();
    std::vector<ReadBurst> bursts;
    for (unsigned b = 0; b < burstCount; ++b) {
        const uint64_t dueUs = startUs + options.windowUs * b / (burstCount - 1);
        const uint64_t nowUs = host.nowUs();
        if (nowUs < dueUs) {
            host.sleepUs(dueUs - nowUs);
        }
        ReadBurst& burst = bursts.emplace_back();
        for (unsigned i = 0; i < readsPerBurst; ++i) {
            CounterRead read;
            read.beforeUs = host.nowUs();
            const int result = readCounter(read.value);
            read.afterUs = host.nowUs();
            ++m.reads;
            if (result != 0) {
                m.outcome = ClockOutcome::AccessFailed;
                m.problem.address = reg::kDwtCyccnt;
                m.problem.result = result;
                m.elapsedUs = host.nowUs() - startUs;
                return m;
            }
            burst.push_back(read);
        }
        // A counter standing still through two bursts while the host's time moves on: no need
        // to wait out the window to know it does not count. (One burst is a few milliseconds, a
        // pause a firmware's sleep may well take.)
        if (b == 1 && standsStill(bursts) &&
            burst.back().afterUs - bursts.front().front().beforeUs >= options.stoppedAfterUs) {
            m.outcome = ClockOutcome::CounterStopped;
            m.elapsedUs = host.nowUs() - startUs;
            return m;
        }
    }
    m.elapsedUs = host.nowUs() - startUs;

    const ClockEstimate estimate = estimateClock(bursts, options.maxClockHz);
    m.intervals = estimate.intervals;
    m.intervalsAgreeing = estimate.intervalsAgreeing;
    switch (estimate.status) {
        case ClockEstimate::Status::Stopped:
            m.outcome = ClockOutcome::CounterStopped;
            return m;
        case ClockEstimate::Status::Unsteady:
            m.outcome = ClockOutcome::Unsteady;
            return m;
        case ClockEstimate::Status::Steady:
            break;
    }
    m.measuredHz = estimate.hz;
    m.uncertainty = estimate.uncertainty;
    if (m.uncertainty > options.maxUncertainty) {
        m.outcome = ClockOutcome::Imprecise;
        return m;
    }
    const RoundedClock rounded = roundClock(m.measuredHz, m.uncertainty, options.crystalTolerance);
    m.outcome = ClockOutcome::Measured;
    m.usedHz = rounded.hz;
    m.nominal = rounded.nominal;
    return m;
}

CycleCounterSetup enableCycleCounter(TargetRegisters& registers) {
    CycleCounterSetup setup;
    uint32_t demcr = 0;
    if (!readRegister(registers, reg::kDemcr, demcr, setup.problem) ||
        !setBits(registers, reg::kDemcr, demcr, reg::kDemcrTrcena, setup.setTrcena, setup)) {
        return setup;
    }
    uint32_t ctrl = 0;
    if (!readRegister(registers, reg::kDwtCtrl, ctrl, setup.problem)) {
        return setup;
    }
    if (ctrl & reg::kDwtCtrlNocyccnt) {
        setup.failure = ClockOutcome::NoCycleCounter;
        return setup;
    }
    if (!setBits(registers, reg::kDwtCtrl, ctrl, reg::kDwtCtrlCyccntena, setup.setCycleCounter,
                 setup)) {
        return setup;
    }
    setup.ready = true;
    return setup;
}

ClockMeasurement measureTargetClock(TargetRegisters& registers, HostClock& host,
                                    const MeasureOptions& options) {
    const uint64_t startUs = host.nowUs();
    const CycleCounterSetup setup = enableCycleCounter(registers);
    const auto finish = [&](ClockMeasurement m) {
        m.setTrcena = setup.setTrcena;
        m.setCycleCounter = setup.setCycleCounter;
        m.elapsedUs = host.nowUs() - startUs;
        return m;
    };
    ClockMeasurement m;
    if (!setup.ready) {
        m.outcome = setup.failure;
        m.problem = setup.problem;
        return finish(m);
    }
    // A halted core stops the counter for certain; no need to watch it stand still.
    uint32_t dhcsr = 0;
    if (!readRegister(registers, reg::kDhcsr, dhcsr, m.problem)) {
        m.outcome = ClockOutcome::AccessFailed;
        return finish(m);
    }
    if (dhcsr & reg::kDhcsrSHalt) {
        m.outcome = ClockOutcome::CounterStopped;
        m.core = CoreState::Halted;
        return finish(m);
    }
    m = measureCycleCounter(
        [&registers](uint32_t& value) { return registers.read(reg::kDwtCyccnt, value); }, host,
        options);
    if (m.outcome == ClockOutcome::CounterStopped || m.outcome == ClockOutcome::Unsteady) {
        m.core = coreStateOf(registers);
    }
    return finish(m);
}

}  // namespace dravik::clock
