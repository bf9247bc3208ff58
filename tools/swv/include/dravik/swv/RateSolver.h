// The SWO bit rate a trace clock and a TPIU prescaler give, and the prescaler that comes closest to
// a requested rate. Nothing is rounded silently: the caller gets the rate the line will really run
// at and how far it is from the request.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace dravik::swv {

// TPIU_ACPR holds prescaler - 1 in 16 bits.
inline constexpr uint32_t kMinPrescaler = 1;
inline constexpr uint32_t kMaxPrescaler = 65536;
// A UART sampling mid-bit survives about this much rate error over a 10-bit frame.
inline constexpr double kMaxRateErrorPercent = 3.0;

struct RateChoice {
    uint32_t clockHz = 0;
    uint32_t prescaler = 0;
    double actualBps = 0;       // clockHz / prescaler, exact
    uint32_t requestedBps = 0;  // 0 when the prescaler was given rather than solved
    double errorPercent = 0;    // (actual - requested) / requested * 100; 0 without a request

    bool withinTolerance() const;
};

// The rate of a given prescaler (1..65536); nullopt for a zero clock or a prescaler out of range.
std::optional<RateChoice> rateForPrescaler(uint32_t clockHz, uint32_t prescaler);

// The prescaler in 1..65536 whose rate is closest to rateBps; on a tie the slower rate, which is
// the kinder one to the line. nullopt for a zero clock or rate.
std::optional<RateChoice> solvePrescaler(uint32_t clockHz, uint32_t rateBps);

// "2000000 bit/s (72000000 Hz / 36), error +0.000 %": the rate with up to three decimals (none
// when it is whole), and the error when a rate was requested.
std::string describeRate(const RateChoice& choice);

// The rate the probe's receiver is told: clockHz / prescaler truncated, as the library computes it.
inline uint32_t receiverRate(const RateChoice& choice) {
    return choice.prescaler == 0 ? 0 : choice.clockHz / choice.prescaler;
}

}  // namespace dravik::swv
