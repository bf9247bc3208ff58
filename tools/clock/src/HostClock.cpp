#include "dravik/clock/HostClock.h"

#include <chrono>
#include <thread>

namespace dravik::clock {

uint64_t SteadyHostClock::nowUs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

void SteadyHostClock::sleepUs(uint64_t us) {
    std::this_thread::sleep_for(std::chrono::microseconds(us));
}

}  // namespace dravik::clock
