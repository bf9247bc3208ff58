// A stand-in for the C library's time() in test programs that link SteppedWallClock.cpp.
//
// The library's reset and halt waits poll the target against time() for 2 s. A test that drives
// them into a timeout (a reset request lost to an injected fault) would spend those 2 s for real;
// with stepping on, each time() call moves a private clock on by `stepMs` instead, so such a wait
// ends after a bounded number of polls (2 s / stepMs), however fast or slow the host is. With
// stepping off, time() reads the real clock.
#pragma once

namespace dravik::test {

void SetWallClockStepping(bool on, unsigned stepMs = 10);
bool WallClockStepping();

// Turns stepping on for the lifetime of the object.
class SteppedWallClock {
  public:
    explicit SteppedWallClock(unsigned stepMs = 10) { SetWallClockStepping(true, stepMs); }
    ~SteppedWallClock() { SetWallClockStepping(false); }
    SteppedWallClock(const SteppedWallClock&) = delete;
    SteppedWallClock& operator=(const SteppedWallClock&) = delete;
};

}  // namespace dravik::test
