// Time as the capture sees it: a steady microsecond count and sleeping, replaceable in tests. It is
// the clock measurement's host clock, so one clock serves both.
#pragma once

#include <cstdint>

#include "dravik/clock/HostClock.h"

namespace dravik::swv {

using Clock = dravik::clock::HostClock;
using SteadyClock = dravik::clock::SteadyHostClock;

// Wall clock, microseconds since the Unix epoch.
int64_t wallClockUs();

}  // namespace dravik::swv
