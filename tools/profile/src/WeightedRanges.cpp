#include "dravik/profile/WeightedRanges.h"

#include <set>

namespace dravik::profile {

bool weightedRanges(const SymbolTable& symbols,
                    const std::vector<std::pair<std::string, double>>& weights,
                    std::vector<WeightedRange>& out, std::string& error) {
    std::vector<WeightedRange> ranges;
    std::set<std::string> seen;
    for (const auto& [name, weight] : weights) {
        const FunctionSymbol* f = symbols.find(name);
        if (f == nullptr) {
            error = "no function " + name + " in the symbol table";
            return false;
        }
        if (!seen.insert(name).second) {
            error = "function " + name + " is given twice";
            return false;
        }
        if (!(weight >= 0)) {
            error = "the weight of " + name + " must be a number of 0 or more";
            return false;
        }
        ranges.push_back({name, f->address, static_cast<uint32_t>(f->end()), weight});
    }
    out = std::move(ranges);
    return true;
}

}  // namespace dravik::profile
