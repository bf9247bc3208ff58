#include "target/trace/PcSampler.h"

#include <algorithm>

namespace dravik::sim::trace {

PcSampler::PcSampler(const std::optional<PcProfile>& profile) : profile_(profile) {
    if (profile_) {
        double total = 0;
        for (const PcRange& range : profile_->ranges) {
            total += range.weight;
            cumulative_.push_back(total);
        }
    }
    restart();
}

void PcSampler::restart() {
    state_ = profile_ ? profile_->seed : 0;
}

uint64_t PcSampler::next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double PcSampler::unit() {
    return static_cast<double>(next() >> 11) * 0x1.0p-53;
}

PcSample PcSampler::draw(bool coreAsleep, uint32_t corePc) {
    if (coreAsleep) {
        return {true, 0};
    }
    if (!profile_) {
        return {false, corePc};
    }
    const double u = unit();
    const double sleepShare = profile_->sleepShare;
    if (u < sleepShare || cumulative_.empty() || cumulative_.back() <= 0) {
        return {true, 0};
    }
    // The rest of the unit interval, stretched over the weights: one draw decides both.
    const double at = (u - sleepShare) / (1 - sleepShare) * cumulative_.back();
    size_t index = static_cast<size_t>(
        std::upper_bound(cumulative_.begin(), cumulative_.end(), at) - cumulative_.begin());
    if (index == cumulative_.size()) {  // rounding reached the very end: the last weighed range
        do {
            --index;
        } while (index > 0 && profile_->ranges[index].weight <= 0);
    }
    const PcRange& range = profile_->ranges[index];
    const uint64_t halfwords = (uint64_t{range.end} - range.start + 1) / 2;
    return {false, static_cast<uint32_t>(range.start + 2 * (next() % halfwords))};
}

}  // namespace dravik::sim::trace
