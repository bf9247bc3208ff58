// What the end-to-end tests of the built dravik-swv share: the bench on its manual clock, the
// capture's arguments, and the skip while the library or the bench lack the trace path.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ToolProcess.h"

namespace dravik::swv::test {

extern const std::vector<std::string> kBenchRate;

// 5 ms of target time per exchange: a poll brings the bytes of several iterations (and a doctor's
// short listen enough bytes to judge) however few polls a busy machine allows, while no poll
// brings more than the probe's buffer holds.
extern const char* const kManualBench;

ToolRun onBench(std::vector<std::string> args, const std::string& config = kManualBench);
// The manual bench with one probe described by `probe` (a JSON object).
std::string withTarget(const std::string& probe);
// capture at the bench's rate, then `extra`.
std::vector<std::string> capture(std::vector<std::string> extra);

// Why the trace path cannot be exercised yet; empty when it can.
std::string traceUnavailableReason();

#define SKIP_WITHOUT_TRACE()                                                      \
    do {                                                                          \
        const std::string reason = ::dravik::swv::test::traceUnavailableReason(); \
        if (!reason.empty()) {                                                    \
            GTEST_SKIP() << reason;                                               \
        }                                                                         \
    } while (0)

}  // namespace dravik::swv::test
