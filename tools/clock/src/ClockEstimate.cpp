#include "dravik/clock/ClockEstimate.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace dravik::clock {

namespace {

// Host timestamps and the bench's time are whole microseconds.
constexpr double kResolutionUs = 1.0;
constexpr double kCounterRange = 4294967296.0;
// Two intervals agree when they differ by less than this many times their summed uncertainty.
constexpr double kAgreement = 2.0;
// An interval far less certain than its peers spans a burst that was disturbed (the counter
// stopped while it was read): its rate may look right while its time is not.
constexpr double kDisturbedUncertainty = 4.0;
constexpr unsigned kRefinements = 2;

struct Point {
    double timeUs = 0;       // from the first read's start
    double halfWidthUs = 0;  // how far the counter's moment may be from timeUs
    uint32_t value = 0;
};

struct Interval {
    uint32_t counts = 0;
    double us = 0;
    double hz = 0;
    double uncertainty = 0;
    bool candidate = false;  // the counter moved, and not long enough to wrap twice
    bool agrees = false;
};

double widthOf(const CounterRead& read) {
    return read.afterUs > read.beforeUs ? static_cast<double>(read.afterUs - read.beforeUs) : 0.0;
}

// The narrowest bracket of all reads stands for the fixed part of a round trip, which cancels
// out of every slope. Even that read held some jitter, which the brackets reduced by it leave
// out: it is estimated as five times the mean spacing of the narrowest quarter of the widths
// (with jitter spread evenly, the narrowest of n reads holds about range / (n + 1), the spacing's
// expectation, and five times that is exceeded in under 1 % of measurements).
struct Widths {
    double narrowest = 0;
    double residualUs = 0;
};

Widths widthsOf(const std::vector<ReadBurst>& bursts) {
    std::vector<double> widths;
    for (const ReadBurst& burst : bursts) {
        for (const CounterRead& read : burst) {
            widths.push_back(widthOf(read));
        }
    }
    std::sort(widths.begin(), widths.end());
    Widths out;
    out.narrowest = widths.front();
    const size_t quarter = std::max<size_t>(2, widths.size() / 4);
    if (widths.size() >= quarter) {
        out.residualUs = 5.0 * (widths[quarter - 1] - widths.front()) / double(quarter - 1);
    }
    return out;
}

const CounterRead& narrowestOf(const ReadBurst& burst) {
    return *std::min_element(burst.begin(), burst.end(),
                             [](const auto& a, const auto& b) { return widthOf(a) < widthOf(b); });
}

// Without a rate: the burst's narrowest read alone. With one: the brackets of all its reads,
// reduced by the fixed part and each moved back by the counts it read after the reference, so
// that they all bracket the moment the counter held the reference value; their intersection is
// far narrower than any one of them.
Point pointOf(const ReadBurst& burst, uint64_t originUs, const Widths& widths, double hz) {
    const CounterRead& reference = narrowestOf(burst);
    double lo = -std::numeric_limits<double>::infinity();
    double hi = std::numeric_limits<double>::infinity();
    for (const CounterRead& read : burst) {
        if (hz <= 0 && &read != &reference) {
            continue;
        }
        const auto counts = static_cast<int32_t>(read.value - reference.value);
        const double shiftUs = hz > 0 ? double(counts) * 1e6 / hz : 0.0;
        const double start = double(read.beforeUs - originUs) - shiftUs;
        lo = std::max(lo, start);
        hi = std::min(hi, start + widthOf(read) - widths.narrowest);
    }
    return {(lo + hi) / 2, std::fabs(hi - lo) / 2, reference.value};
}

// Of an even count the upper of the two middle values: a counter that stops for a while only
// lowers an interval's rate, so the upper one is the likelier to be clean.
double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

ClockEstimate estimateWith(const std::vector<ReadBurst>& bursts, const Widths& widths, double hz,
                           double maxClockHz) {
    const uint64_t originUs = bursts.front().front().beforeUs;
    std::vector<Point> points;
    points.reserve(bursts.size());
    for (const ReadBurst& burst : bursts) {
        points.push_back(pointOf(burst, originUs, widths, hz));
    }
    // What each end of an interval adds to its uncertainty besides its half-width.
    const double endUs = widths.residualUs / 2 + kResolutionUs;

    ClockEstimate estimate;
    std::vector<Interval> intervals(points.size() - 1);
    estimate.intervals = static_cast<unsigned>(intervals.size());
    std::vector<double> candidateHz;
    std::vector<double> candidateUncertainty;
    bool moved = false;
    for (size_t k = 0; k < intervals.size(); ++k) {
        Interval& in = intervals[k];
        in.counts = points[k + 1].value - points[k].value;
        in.us = points[k + 1].timeUs - points[k].timeUs;
        moved = moved || in.counts != 0;
        in.candidate = in.counts != 0 && in.us > 0 && in.us * maxClockHz / 1e6 < kCounterRange;
        if (!in.candidate) {
            continue;
        }
        in.hz = double(in.counts) * 1e6 / in.us;
        in.uncertainty = (points[k].halfWidthUs + points[k + 1].halfWidthUs + 2 * endUs) / in.us +
                         2.0 / double(in.counts);
        candidateHz.push_back(in.hz);
        candidateUncertainty.push_back(in.uncertainty);
    }
    if (!moved) {
        estimate.status = ClockEstimate::Status::Stopped;
        return estimate;
    }
    estimate.status = ClockEstimate::Status::Unsteady;
    if (candidateHz.empty()) {
        return estimate;
    }
    const double medianHz = median(candidateHz);
    const double typicalUncertainty = median(candidateUncertainty);
    double medianUncertainty = typicalUncertainty;
    for (const Interval& in : intervals) {
        if (in.candidate && in.hz == medianHz) {
            medianUncertainty = in.uncertainty;
        }
    }
    for (Interval& in : intervals) {
        in.agrees = in.candidate &&
                    std::fabs(in.hz - medianHz) <=
                        kAgreement * (in.uncertainty + medianUncertainty) * medianHz &&
                    in.uncertainty <= kDisturbedUncertainty * typicalUncertainty;
        estimate.intervalsAgreeing += in.agrees ? 1 : 0;
    }
    if (2 * estimate.intervalsAgreeing <= estimate.intervals) {
        return estimate;
    }
    // The agreeing intervals' counts over their time; inside a run of agreeing intervals the
    // inner points cancel, so only each run's two ends add to the uncertainty.
    double counts = 0;
    double us = 0;
    double endsUs = 0;
    unsigned runs = 0;
    for (size_t k = 0; k < intervals.size(); ++k) {
        if (!intervals[k].agrees) {
            continue;
        }
        counts += intervals[k].counts;
        us += intervals[k].us;
        if (k == 0 || !intervals[k - 1].agrees) {
            endsUs += points[k].halfWidthUs + endUs;
            ++runs;
        }
        if (k + 1 == intervals.size() || !intervals[k + 1].agrees) {
            endsUs += points[k + 1].halfWidthUs + endUs;
        }
    }
    estimate.status = ClockEstimate::Status::Steady;
    estimate.hz = counts * 1e6 / us;
    estimate.uncertainty = endsUs / us + 2.0 * runs / counts;
    return estimate;
}

}  // namespace

ClockEstimate estimateClock(const std::vector<ReadBurst>& bursts, double maxClockHz) {
    ClockEstimate estimate;
    if (bursts.size() < 2 ||
        std::any_of(bursts.begin(), bursts.end(), [](const ReadBurst& b) { return b.empty(); })) {
        return estimate;
    }
    const Widths widths = widthsOf(bursts);
    estimate = estimateWith(bursts, widths, 0.0, maxClockHz);
    // Each pass moves the reads of a burst by a better rate; the shift's error shrinks by the
    // ratio of a burst's length to the whole baseline each time.
    for (unsigned pass = 0; pass < kRefinements && estimate.status == ClockEstimate::Status::Steady;
         ++pass) {
        const ClockEstimate refined = estimateWith(bursts, widths, estimate.hz, maxClockHz);
        if (refined.status != ClockEstimate::Status::Steady) {
            break;
        }
        estimate = refined;
    }
    return estimate;
}

}  // namespace dravik::clock
