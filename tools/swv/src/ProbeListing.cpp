#include "dravik/swv/ProbeListing.h"

#include <cstdio>
#include <cstdlib>

#include "dravik/swv/PacketRecords.h"

namespace dravik::swv {

namespace {

bool parseId(std::string_view field, unsigned& value) {
    if (field.empty() || field.size() > 10) {
        return false;
    }
    unsigned long long parsed = 0;
    for (char c : field) {
        if (c < '0' || c > '9') {
            return false;
        }
        parsed = parsed * 10 + static_cast<unsigned>(c - '0');
    }
    if (parsed > 0xFFFFFFFFull) {
        return false;
    }
    value = static_cast<unsigned>(parsed);
    return true;
}

}  // namespace

std::vector<ProbeEntry> parseProbeListing(std::string_view listing) {
    std::vector<ProbeEntry> probes;
    while (!listing.empty()) {
        const size_t end = listing.find('\n');
        std::string_view line = listing.substr(0, end);
        listing = end == std::string_view::npos ? std::string_view{} : listing.substr(end + 1);
        const size_t tab1 = line.find('\t');
        const size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string_view::npos || tab1 == 0) {
            continue;
        }
        ProbeEntry probe;
        probe.serial = std::string(line.substr(0, tab1));
        if (!parseId(line.substr(tab1 + 1, tab2 - tab1 - 1), probe.firstId) ||
            !parseId(line.substr(tab2 + 1), probe.secondId)) {
            continue;
        }
        probes.push_back(std::move(probe));
    }
    return probes;
}

std::string formatProbeList(const std::vector<ProbeEntry>& probes) {
    std::string text;
    for (const ProbeEntry& probe : probes) {
        char ids[48];
        std::snprintf(ids, sizeof ids, "  0x%04x  0x%04x\n", probe.firstId, probe.secondId);
        text += probe.serial + ids;
    }
    return text;
}

std::string formatProbeListJson(const std::vector<ProbeEntry>& probes) {
    std::string text = "[";
    for (size_t i = 0; i < probes.size(); ++i) {
        if (i != 0) {
            text += ",";
        }
        text += "{\"serial\":";
        appendJsonString(probes[i].serial, text);
        text += ",\"ids\":[" + std::to_string(probes[i].firstId) + "," +
                std::to_string(probes[i].secondId) + "]}";
    }
    return text + "]\n";
}

}  // namespace dravik::swv
