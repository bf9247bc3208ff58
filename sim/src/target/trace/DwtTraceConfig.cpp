#include <DravikBench/DwtTraceConfig.h>

#include <cmath>
#include <set>

namespace dravik::sim {

namespace {

constexpr uint16_t kFirstException = 2;  // NMI: 0 is thread mode, 1 the reset that starts it
constexpr uint16_t kLastException = 511;

std::string indexed(const char* list, size_t i) {
    return std::string(list) + "[" + std::to_string(i) + "]";
}

DwtTraceProblem describeProfileProblem(const PcProfile& profile) {
    if (!(profile.sleepShare >= 0 && profile.sleepShare <= 1)) {
        return {"pcProfile.sleepShare", "must be a number from 0 to 1"};
    }
    double total = 0;
    for (size_t i = 0; i < profile.ranges.size(); ++i) {
        const PcRange& range = profile.ranges[i];
        const std::string key = indexed("pcProfile.ranges", i);
        if (range.end <= range.start) {
            return {key + ".end", "must lie above start"};
        }
        if (!(range.weight >= 0) || !std::isfinite(range.weight)) {
            return {key + ".weight", "must be a number of 0 or more"};
        }
        total += range.weight;
    }
    if (total <= 0 && profile.sleepShare < 1) {
        return {"pcProfile.ranges",
                "no range has a weight, yet a sleep share below 1 leaves awake samples to place"};
    }
    return {};
}

}  // namespace

DwtTraceProblem describeDwtTraceProblem(const std::optional<PcProfile>& profile,
                                        const std::vector<ExceptionSource>& exceptions) {
    if (profile) {
        DwtTraceProblem problem = describeProfileProblem(*profile);
        if (!problem.empty()) {
            return problem;
        }
    }
    std::set<uint16_t> numbers;
    for (size_t i = 0; i < exceptions.size(); ++i) {
        const ExceptionSource& e = exceptions[i];
        const std::string key = indexed("exceptions", i);
        if (e.number < kFirstException || e.number > kLastException) {
            return {key + ".number", "must be from 2 to 511"};
        }
        if (!numbers.insert(e.number).second) {
            return {key + ".number", "exception " + std::to_string(e.number) + " is given twice"};
        }
        if (e.periodCycles == 0) {
            return {key + ".periodCycles", "must be at least 1"};
        }
        if (e.durationCycles == 0) {
            return {key + ".durationCycles", "must be at least 1"};
        }
    }
    return {};
}

}  // namespace dravik::sim
