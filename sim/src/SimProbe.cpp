#include "DravikBench/SimProbe.h"

namespace dravik::sim {

SimProbe::SimProbe(const ProbeConfig& cfg, uint32_t benchId) : config(cfg), benchId_(benchId) {
    powerCycle();
}

SimProbe::~SimProbe() = default;

void SimProbe::powerCycle() {
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

void SimProbe::advanceTo(uint64_t /*nowUs*/) {}

}  // namespace dravik::sim
