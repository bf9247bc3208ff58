// Address ranges with weights, from function names: how a test describes where a simulated
// target's PC samples should fall ("40 % in work_heavy, 20 % in checksum, ...") in terms of a
// real firmware image.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "dravik/profile/SymbolTable.h"

namespace dravik::profile {

struct WeightedRange {
    std::string function;
    uint32_t start = 0;  // the function's first byte
    uint32_t end = 0;    // one past its last byte
    double weight = 0;
};

// One range per (name, weight), in the order given, each covering its function's bytes. Refuses
// a name the table does not hold, a name given twice and a weight that is negative or not a
// number, naming the culprit in `error`.
bool weightedRanges(const SymbolTable& symbols,
                    const std::vector<std::pair<std::string, double>>& weights,
                    std::vector<WeightedRange>& out, std::string& error);

}  // namespace dravik::profile
