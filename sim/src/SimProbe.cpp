#include "DravikBench/SimProbe.h"

#include <exception>

#include "target/CortexM.h"
#include "target/trace/SwoReceiver.h"
#include "target/trace/TraceUnit.h"

namespace dravik::sim {

namespace {

// Never throws: the probe is built inside bench calls that tests and driver calls make.
void MakeTarget(const ProbeConfig& config, std::unique_ptr<CortexM>& target,
                std::unique_ptr<TraceUnit>& trace, std::string& error) {
    if (!config.targetAttached) {
        return;
    }
    error = describeConfigError(config.target);
    if (!error.empty()) {
        return;
    }
    try {
        trace = std::make_unique<TraceUnit>(config.target.trace);
        target = std::make_unique<CortexM>(config.target);
        target->attach(*trace);
        trace->setPcSource([core = target.get()] { return core->programCounter(); });
        return;
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "target model could not be built";
    }
    target.reset();
    trace.reset();
}

}  // namespace

SimProbe::SimProbe(const ProbeConfig& cfg, uint32_t benchId)
    : config(cfg), benchId_(benchId), line_(std::make_unique<SwoReceiver>(0u)) {
    resetProbeState();
    MakeTarget(config, target_, trace_, targetError_);
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
    *line_ = SwoReceiver(0u);
}

void SimProbe::powerCycle() {
    resetProbeState();
    if (target_) {
        target_->powerOnReset(target_->nowUs());
    }
    if (trace_) {
        trace_->takeSwoSegments();  // sent before the power went: nobody listened
    }
}

void SimProbe::advanceTo(uint64_t nowUs) {
    if (!target_) {
        return;
    }
    target_->advanceTo(nowUs);
    if (!trace_) {
        return;
    }
    // Taken whether or not the receiver runs: a stopped receiver collects nothing, and must not
    // collect later what the pin sent meanwhile.
    const std::vector<SwoSegment> segments = trace_->takeSwoSegments();
    if (!swv_.running() || segments.empty()) {
        return;
    }
    if (line_->config().rateBps != swv_.rateBps()) {
        *line_ = SwoReceiver(swv_.rateBps());  // started behind our back (swv().start)
    }
    std::vector<uint8_t> received;
    line_->receive(segments, received);
    swv_.feed(received.data(), received.size());
}

void SimProbe::startSwv(uint32_t rateBps, uint16_t bufferSize) {
    if (trace_) {
        trace_->takeSwoSegments();
    }
    *line_ = SwoReceiver(rateBps);
    swv_.start(rateBps, bufferSize);
}

uint64_t SimProbe::swvGarbageBytes() const {
    return line_->garbageBytes();
}

std::vector<uint8_t> SimProbe::swoPinBytes() const {
    return trace_ ? trace_->record().pinBytes : std::vector<uint8_t>{};
}

}  // namespace dravik::sim
