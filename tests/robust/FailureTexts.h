// What a failed exported call must leave behind: g_currentStep names the step it reached, and the
// error (or, for the pending count, the warning) text is the one that step writes, with the
// result code wherever that text carries one.
#pragma once

#include <string>

#include "CaptureRun.h"

namespace dravik::test {

// Empty when the call's step, texts and result agree; otherwise what does not. `serial` is the
// serial number the capture selects (several texts name it).
std::string FailureTextProblem(const CallRecord& call, const std::string& serial);

}  // namespace dravik::test
