#include "SideBySide.h"

#include <time.h>

#include <algorithm>
#include <chrono>

namespace dravik::bench {

double NowNs(Clock clock) {
    if (clock == Clock::ThreadCpu) {
        timespec ts{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
        return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
    }
    using namespace std::chrono;
    return static_cast<double>(
        duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count());
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    const size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + mid, values.end());
    const double upper = values[mid];
    if (values.size() % 2 != 0) {
        return upper;
    }
    return (*std::max_element(values.begin(), values.begin() + mid) + upper) / 2.0;
}

}  // namespace dravik::bench
