// Preloaded into dravik-swv by the command line tests to give the bench another shape than its
// default one probe: DRAVIK_SWV_TEST_BENCH=empty (no probe) or two (a second probe).
#include <cstdlib>
#include <cstring>

#include "DravikBench/Bench.h"

namespace {

__attribute__((constructor)) void shapeBench() {
    const char* shape = std::getenv("DRAVIK_SWV_TEST_BENCH");
    if (shape == nullptr) {
        return;
    }
    dravik::sim::Bench& bench = dravik::sim::bench();
    if (std::strcmp(shape, "empty") == 0) {
        bench.clear();
    } else if (std::strcmp(shape, "two") == 0) {
        bench.reset();
        dravik::sim::ProbeConfig second;
        second.serial = "DRAVIK-BENCH-0002";
        bench.addProbe(second);
    }
}

}  // namespace
