#include "dravik/clock/ClockRounding.h"

#include <algorithm>
#include <cmath>

namespace dravik::clock {

namespace {

// Crystal and oscillator frequencies (including the UART-friendly and audio ones and the usual
// internal RC oscillators), and core clocks PLLs are commonly set to.
constexpr uint32_t kCommonHz[] = {
    1000000,   2000000,   2097152,   3579545,   3686400,   4000000,   4194304,   6000000,
    7372800,   8000000,   10000000,  11059200,  12000000,  12288000,  14745600,  16000000,
    16384000,  18432000,  19200000,  20000000,  22118400,  24000000,  24576000,  25000000,
    26000000,  27000000,  30000000,  32000000,  36000000,  38400000,  40000000,  42000000,
    48000000,  50000000,  54000000,  56000000,  60000000,  64000000,  72000000,  80000000,
    84000000,  90000000,  96000000,  100000000, 108000000, 120000000, 125000000, 128000000,
    133000000, 144000000, 150000000, 160000000, 168000000, 170000000, 180000000, 192000000,
    200000000, 208000000, 216000000, 220000000, 225000000, 240000000, 250000000, 264000000,
    275000000, 280000000, 300000000, 320000000, 400000000, 450000000, 480000000, 500000000,
    520000000, 550000000, 600000000,
};

}  // namespace

RoundedClock roundClock(double measuredHz, double uncertainty, double crystalTolerance) {
    RoundedClock out;
    if (!(measuredHz > 0)) {
        return out;
    }
    const double reach = std::max(uncertainty, crystalTolerance) * measuredHz;
    double nearest = reach;
    for (uint32_t hz : kCommonHz) {
        const double distance = std::fabs(double(hz) - measuredHz);
        if (distance <= nearest) {
            nearest = distance;
            out.hz = hz;
            out.nominal = true;
        }
    }
    if (!out.nominal) {
        const double kHz = std::max(1.0, std::round(measuredHz / 1000.0));
        out.hz = static_cast<uint32_t>(std::min(kHz * 1000.0, 4294967000.0));
    }
    return out;
}

}  // namespace dravik::clock
