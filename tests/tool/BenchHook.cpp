// Preloaded into dravik-swv by the command line tests to give the bench another shape than its
// default one probe: DRAVIK_SWV_TEST_BENCH=empty (no probe) or two (a second probe); or, with
// "receiver", to leave the bench as configured and print the first probe's receiver counts to
// stderr when the tool exits ("bench receiver: received R, lost L, delivered D").
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "DravikBench/Bench.h"

namespace {

void reportReceiver() {
    dravik::sim::Bench& bench = dravik::sim::bench();
    std::lock_guard<std::recursive_mutex> lock(bench.mutex());
    if (bench.probeCount() == 0) {
        return;
    }
    const dravik::sim::SwvCounters& counters = bench.probe(0).swv().counters();
    std::fprintf(stderr, "bench receiver: received %llu, lost %llu, delivered %llu\n",
                 static_cast<unsigned long long>(counters.received),
                 static_cast<unsigned long long>(counters.lost),
                 static_cast<unsigned long long>(counters.delivered));
}

__attribute__((constructor)) void shapeBench() {
    const char* shape = std::getenv("DRAVIK_SWV_TEST_BENCH");
    if (shape == nullptr) {
        return;
    }
    // Made first, so that it is destroyed after the report (exit handlers run in reverse).
    dravik::sim::Bench& bench = dravik::sim::bench();
    if (std::strcmp(shape, "receiver") == 0) {
        std::atexit(reportReceiver);
    } else if (std::strcmp(shape, "empty") == 0) {
        bench.clear();
    } else if (std::strcmp(shape, "two") == 0) {
        bench.reset();
        dravik::sim::ProbeConfig second;
        second.serial = "DRAVIK-BENCH-0002";
        bench.addProbe(second);
    }
}

}  // namespace
