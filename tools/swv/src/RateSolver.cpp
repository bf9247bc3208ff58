#include "dravik/swv/RateSolver.h"

#include <cmath>
#include <cstdio>

namespace dravik::swv {

namespace {

RateChoice makeChoice(uint32_t clockHz, uint32_t prescaler, uint32_t requestedBps) {
    RateChoice choice;
    choice.clockHz = clockHz;
    choice.prescaler = prescaler;
    choice.actualBps = static_cast<double>(clockHz) / static_cast<double>(prescaler);
    choice.requestedBps = requestedBps;
    if (requestedBps != 0) {
        choice.errorPercent = (choice.actualBps - requestedBps) / requestedBps * 100.0;
    }
    return choice;
}

// |clock / p - rate| as the fraction numerator / p, so candidates compare exactly.
uint64_t distanceNumerator(uint32_t clockHz, uint32_t rateBps, uint32_t p) {
    const uint64_t scaled = uint64_t{rateBps} * p;
    return scaled > clockHz ? scaled - clockHz : clockHz - scaled;
}

}  // namespace

bool RateChoice::withinTolerance() const {
    // On the difference itself, so that exactly 3 % is not lost to rounding.
    return requestedBps == 0 ||
           std::fabs(actualBps - requestedBps) * 100.0 <= kMaxRateErrorPercent * requestedBps;
}

std::optional<RateChoice> rateForPrescaler(uint32_t clockHz, uint32_t prescaler) {
    if (clockHz == 0 || prescaler < kMinPrescaler || prescaler > kMaxPrescaler) {
        return std::nullopt;
    }
    return makeChoice(clockHz, prescaler, 0);
}

std::optional<RateChoice> solvePrescaler(uint32_t clockHz, uint32_t rateBps) {
    if (clockHz == 0 || rateBps == 0) {
        return std::nullopt;
    }
    // The best divider is one of the two around clock / rate.
    uint64_t low = clockHz / rateBps;
    if (low < kMinPrescaler) {
        low = kMinPrescaler;
    }
    if (low > kMaxPrescaler) {
        low = kMaxPrescaler;
    }
    const uint64_t high = low < kMaxPrescaler ? low + 1 : low;
    const auto pLow = static_cast<uint32_t>(low);
    const auto pHigh = static_cast<uint32_t>(high);
    // d(low) / low against d(high) / high, cross-multiplied; the products fit 128 bits easily.
    using Wide = unsigned __int128;
    const Wide lowSide = Wide{distanceNumerator(clockHz, rateBps, pLow)} * pHigh;
    const Wide highSide = Wide{distanceNumerator(clockHz, rateBps, pHigh)} * pLow;
    const uint32_t best = lowSide < highSide ? pLow : pHigh;
    return makeChoice(clockHz, best, rateBps);
}

std::string describeRate(const RateChoice& choice) {
    char rate[64];
    const double whole = std::floor(choice.actualBps);
    if (whole == choice.actualBps) {
        std::snprintf(rate, sizeof rate, "%.0f", choice.actualBps);
    } else {
        std::snprintf(rate, sizeof rate, "%.3f", choice.actualBps);
    }
    char text[160];
    if (choice.requestedBps != 0) {
        std::snprintf(text, sizeof text, "%s bit/s (%u Hz / %u), error %+.3f %%", rate,
                      choice.clockHz, choice.prescaler, choice.errorPercent);
    } else {
        std::snprintf(text, sizeof text, "%s bit/s (%u Hz / %u)", rate, choice.clockHz,
                      choice.prescaler);
    }
    return text;
}

}  // namespace dravik::swv
