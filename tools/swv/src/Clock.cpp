#include "dravik/swv/Clock.h"

#include <chrono>

namespace dravik::swv {

int64_t wallClockUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace dravik::swv
