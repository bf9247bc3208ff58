// Texts for a clock measurement, one line without a newline, for a tool to print as it is:
//
//     target clock: measured 71.998 MHz +- 0.02 %, using 72 MHz
//     target clock: not measured: the core has no cycle counter (DWT_CTRL.NOCYCCNT is set)
//
// A tool adds its own advice to a failure (such as to give the clock on the command line).
#pragma once

#include <string>

#include "dravik/clock/ClockMeasurement.h"

namespace dravik::clock {

std::string formatClockMeasurement(const ClockMeasurement& measurement);
// Why the clock is not usable ("the core has no cycle counter (DWT_CTRL.NOCYCCNT is set)"); empty
// for Measured.
std::string describeClockFailure(const ClockMeasurement& measurement);
// "72 MHz", "11.0592 MHz", "71.998 MHz", "32.768 kHz", "900 Hz": exact, shortest unit.
std::string formatHz(uint32_t hz);
// "0.02 %": rounded up to two decimals, never shown as less than 0.01.
std::string formatUncertainty(double uncertainty);

}  // namespace dravik::clock
