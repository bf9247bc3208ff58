// The probe listing of DravikEnumerateDevices ("serial\tid\tid\n" per probe) read back, and shown
// to people or to scripts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dravik::swv {

struct ProbeEntry {
    std::string serial;
    // The two identifiers in the order the library lists them.
    unsigned firstId = 0;
    unsigned secondId = 0;
};

// Lines that do not have three tab-separated fields are skipped.
std::vector<ProbeEntry> parseProbeListing(std::string_view listing);

// One line per probe: "DRAVIK-BENCH-0001  0x0301  0xd7a0".
std::string formatProbeList(const std::vector<ProbeEntry>& probes);
// [{"serial":"...","ids":[769,55200]}] and a line end.
std::string formatProbeListJson(const std::vector<ProbeEntry>& probes);

}  // namespace dravik::swv
