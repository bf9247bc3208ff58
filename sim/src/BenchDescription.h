// A bench described by a JSON text (the format is in sim/README.md): the probes to plug in and the
// clock settings, parsed and checked in full before anything of the bench changes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DravikBench/ProbeConfig.h"

namespace dravik::sim {

struct BenchDescription {
    std::vector<ProbeConfig> probes;
    bool manualClock = false;
    uint64_t exchangeLatencyUs = 0;
    uint64_t exchangeJitterUs = 0;
};

// Fills `out` from `text`. Returns an empty string on success, otherwise what is wrong, beginning
// with the key at fault ("probes[1].target.program.kind: ..."). Never throws.
std::string ParseBenchDescription(const std::string& text, BenchDescription& out) noexcept;

}  // namespace dravik::sim
