// The bench's JSON description loader on arbitrary text: it must take or refuse any text without
// crashing, refuse with a text naming the fault, and leave the bench as it was when it refuses.
#include <cstdlib>
#include <string>

#include "DravikBench/Bench.h"
#include "FuzzTargets.h"

namespace dravik::fuzz {

int FuzzBenchDescription(const uint8_t* data, size_t size) {
    sim::Bench& b = sim::bench();
    b.clear();  // an empty bench: no target to build for every input
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string error = b.configureFromJson(text);
    if (!error.empty() && b.probeCount() != 0) {
        std::abort();  // a refused description changes nothing
    }
    // Whatever was taken must be usable: every probe can be looked at.
    for (int i = 0; i < b.probeCount(); ++i) {
        (void)b.probe(i).config.serial.size();
    }
    b.clear();
    return 0;
}

}  // namespace dravik::fuzz
