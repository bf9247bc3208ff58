// Explains, from the values of the trace registers and from a short listen to the trace itself,
// every setting that would keep SWO trace from arriving or from being read. Pure: the doctor
// command reads the registers, listens and prints this.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dravik/swv/StreamHealth.h"
#include "dravik/swv/TraceRegisterMap.h"

namespace dravik::swv {

// Register values as read back; nullopt when a read failed.
struct TraceRegisters {
    std::optional<uint32_t> demcr, itmLsr, itmTcr, itmTer0, itmTpr, dwtCtrl;
    std::optional<uint32_t> tpiuAcpr, tpiuSppr, tpiuType, tpiuFfcr;
};

// What the trace is expected to look like; zero fields are not checked.
struct TraceExpectations {
    uint32_t clockHz = 0;            // trace clock, to turn TPIU_ACPR into a rate
    uint32_t rateBps = 0;            // the SWO rate the probe receives at
    uint32_t portMask = 0xFFFFFFFF;  // stimulus ports trace is wanted from
};

enum class Severity {
    Blocking,  // no trace at all, or none that can be decoded
    Warning,   // some trace is lost or unreadable
    Note,      // worth knowing
};

struct Finding {
    Severity severity;
    std::string text;  // what is wrong, in plain words
    std::string hint;  // what to do about it (may be empty)
};

const char* severityName(Severity severity) noexcept;

std::vector<Finding> explainTraceRegisters(const TraceRegisters& registers,
                                           const TraceExpectations& expected);

// What a short listen to the trace found: `packets` decoded in `seconds`. A stream that does not
// decode is a problem (the registers may all look right with a wrong --clock).
Finding explainListening(const HealthVerdict& verdict, double seconds, uint64_t packets,
                         uint32_t clockHz);

// The register's fields in short, e.g. "ITMENA=1 TSENA=0 ... TraceBusID=0"; for the table.
std::string describeItmTcr(uint32_t value);
std::string describeItmLsr(uint32_t value);
std::string describeTpiuType(uint32_t value);
std::string describeDwtCtrl(uint32_t value);
std::string describeTpiuSppr(uint32_t value);
std::string describeTpiuFfcr(uint32_t value);
std::string describeTpiuAcpr(uint32_t value, uint32_t clockHz);

// "0, 2-5, 7" for the set bits of a port mask.
std::string describePortSet(uint32_t mask);

}  // namespace dravik::swv
