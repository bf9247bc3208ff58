#include "DravikBench/SimProbe.h"

#include <exception>

#include "target/CortexM.h"

namespace dravik::sim {

namespace {

// Never throws: the probe is built inside bench calls that tests and driver calls make.
std::unique_ptr<CortexM> MakeTarget(const ProbeConfig& config, std::string& error) {
    if (!config.targetAttached) {
        return nullptr;
    }
    error = describeConfigError(config.target);
    if (!error.empty()) {
        return nullptr;
    }
    try {
        return std::make_unique<CortexM>(config.target);
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "target model could not be built";
    }
    return nullptr;
}

}  // namespace

SimProbe::SimProbe(const ProbeConfig& cfg, uint32_t benchId) : config(cfg), benchId_(benchId) {
    resetProbeState();
    target_ = MakeTarget(config, targetError_);
}

SimProbe::~SimProbe() = default;

void SimProbe::resetProbeState() {
    const unsigned handles = state.openHandles;
    const bool exclusive = state.heldExclusive;
    state = ProbeState{};
    state.mode = config.initialMode;
    state.subMode = config.initialSubMode;
    // Connections belong to the host side; a power cycle does not close them.
    state.openHandles = handles;
    state.heldExclusive = exclusive;
    swv_.reset();
}

void SimProbe::powerCycle() {
    resetProbeState();
    if (target_) {
        target_->powerOnReset(target_->nowUs());
    }
}

void SimProbe::advanceTo(uint64_t nowUs) {
    if (target_) {
        target_->advanceTo(nowUs);
    }
}

}  // namespace dravik::sim
