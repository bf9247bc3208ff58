// What the user is told, once, when a stream turns out unhealthy: what was seen, the likely causes
// and the options that fix them.
#pragma once

#include <cstdint>
#include <string>

#include "dravik/swv/StreamHealth.h"

namespace dravik::swv {

struct HealthAdvice {
    bool live = true;        // a capture (its options can be changed), else a decode
    uint32_t clockHz = 0;    // the trace clock given, 0 when not known
    uint32_t prescaler = 0;  // the divider used, 0 when not known
    std::string doctor;      // the doctor command that checks this setup; empty: plain "doctor"

    // clockHz was measured and found on the trace rather than given.
    bool clockMeasured = false;
};

// Lines starting "dravik-swv: warning: "; empty for a stream that is not unhealthy.
std::string healthWarning(const HealthVerdict& verdict, const HealthAdvice& advice);

// "probe buffer full N times (bytes may be lost)": a poll found the probe's buffer full, so it may
// have dropped bytes since the poll before (the library gives no count of them).
std::string bufferFullText(uint64_t polls);
// The warning a capture gives at the first such poll.
std::string bufferFullWarning(uint64_t polls);

}  // namespace dravik::swv
