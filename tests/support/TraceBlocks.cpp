#include "TraceBlocks.h"

#include <memory>
#include <vector>

#include "target/CortexM.h"
#include "target/trace/TraceUnit.h"

namespace dravik::test {

namespace {

constexpr uint32_t kItmLsr = 0xE0000FB4;

// Units handed to targets, one per target that lacked its own; kept until released, since a target
// may outlive the test that made it.
std::vector<std::unique_ptr<sim::TraceUnit>>& Units() {
    static std::vector<std::unique_ptr<sim::TraceUnit>> units;
    return units;
}

}  // namespace

void EnsureTraceBlocks(sim::SimProbe& probe) {
    sim::CortexM* target = probe.target();
    if (target == nullptr) {
        return;
    }
    uint32_t value = 0;
    if (target->read(kItmLsr, sim::AccessSize::Word, value, target->nowUs()) ==
        sim::BusStatus::Ok) {
        return;
    }
    sim::TraceConfig config;
    config.program = sim::IdleTraceProgram{};
    config.recordPinBytes = false;
    Units().push_back(std::make_unique<sim::TraceUnit>(config));
    target->attach(*Units().back());
}

void ReleaseTraceBlocks() {
    Units().clear();
}

}  // namespace dravik::test
