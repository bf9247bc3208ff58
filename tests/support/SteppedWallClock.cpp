// time() for the library, defined by the test program: the dynamic linker binds the library's
// reference to this definition before the C library's, so the waits in libDravikTrace.so see it.
// It must be visible in the program's dynamic symbol table, whatever the visibility preset.
#include "SteppedWallClock.h"

#include <ctime>

namespace {

bool g_stepping = false;
unsigned g_stepUs = 10000;
time_t g_baseSeconds = 0;
unsigned long long g_elapsedUs = 0;

time_t RealSeconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec;
}

}  // namespace

namespace dravik::test {

void SetWallClockStepping(bool on, unsigned stepMs) {
    g_stepping = on;
    g_stepUs = (stepMs == 0 ? 1u : stepMs) * 1000u;
    g_baseSeconds = RealSeconds();
    g_elapsedUs = 0;
}

bool WallClockStepping() {
    return g_stepping;
}

}  // namespace dravik::test

extern "C" __attribute__((visibility("default"))) time_t time(time_t* out) noexcept {
    time_t now;
    if (g_stepping) {
        g_elapsedUs += g_stepUs;
        now = g_baseSeconds + static_cast<time_t>(g_elapsedUs / 1000000u);
    } else {
        now = RealSeconds();
    }
    if (out != nullptr) {
        *out = now;
    }
    return now;
}
