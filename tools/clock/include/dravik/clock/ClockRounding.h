// Turns a measured clock into the one to use: a common crystal, oscillator or PLL frequency when
// one lies within the measurement's reach, otherwise the nearest kHz.
#pragma once

#include <cstdint>

namespace dravik::clock {

struct RoundedClock {
    uint32_t hz = 0;
    bool nominal = false;  // from the list of common frequencies
};

// `uncertainty` and `crystalTolerance` are relative; the wider of the two is the reach. Of the
// common frequencies within reach the nearest is taken.
RoundedClock roundClock(double measuredHz, double uncertainty, double crystalTolerance);

}  // namespace dravik::clock
