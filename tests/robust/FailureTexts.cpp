#include "FailureTexts.h"

#include "DravikTrace.h"

namespace dravik::test {

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The register a "Reading register X" style step names, or empty.
std::string After(const std::string& text, const std::string& prefix) {
    return StartsWith(text, prefix) ? text.substr(prefix.size()) : std::string();
}

std::string Status(int result) {
    return ", status: " + std::to_string(result);
}

// The one error text a step may leave with `result`, or empty when the step has several.
std::string ExpectedError(const CallRecord& c, const std::string& serial) {
    const std::string& step = c.step;
    if (step == "Open Dravik") {
        return "Unable to open Dravik for device " + serial;
    }
    if (step == "Open Target") {
        return "Unable to open device " + serial;
    }
    if (step == "Resetting") {
        return "Unable to reset device " + serial;
    }
    if (step == "Read device status") {
        return "Unable to read device status";
    }
    if (step == "Starting SWV Trace Reception") {
        return "Unable to start SWV Trace Reception" + Status(c.result);
    }
    if (step == "Stop SWV Trace Reception") {
        return "Unable to stop SWV Trace Reception" + Status(c.result);
    }
    if (step == "Run device") {
        return "Unable to run device" + Status(c.result);
    }
    if (step == "Reading memory") {
        return "Unable to read memory" + Status(c.result);
    }
    if (const std::string reg = After(step, "Writing register "); !reg.empty()) {
        return "Unable to write " + reg + " register" + Status(c.result);
    }
    return {};
}

}  // namespace

std::string FailureTextProblem(const CallRecord& c, const std::string& serial) {
    const std::string seen = "step \"" + c.step + "\", error \"" + c.error + "\", warning \"" +
                             c.warning + "\", result " + std::to_string(c.result);
    if (c.result == DRAVIK_OK) {
        return c.error.empty() ? std::string() : "an error text after success: " + seen;
    }
    if (const std::string expected = ExpectedError(c, serial); !expected.empty()) {
        return c.error == expected ? std::string() : "expected \"" + expected + "\": " + seen;
    }
    const std::string& step = c.step;
    if (const std::string reg = After(step, "Reading register "); !reg.empty()) {
        const bool readFailed = c.error == "Unable to read " + reg + " register" + Status(c.result);
        const bool stillLocked = reg == "ITM_LSR" && c.result == DRAVIK_VERIFY_FAILED &&
                                 c.error == "Unable to unlock ITM access";
        const bool noMode = reg == "TPIU_TYPE" && c.result == DRAVIK_REFUSED &&
                            (c.error == "No TXMode selected, check flags" ||
                             c.error == "Unable to get FIFOSZ value");
        return readFailed || stillLocked || noMode ? std::string() : "register read: " + seen;
    }
    if (const std::string reg = After(step, "Verifying written register "); !reg.empty()) {
        const bool ok = c.result == DRAVIK_VERIFY_FAILED &&
                        StartsWith(c.error, "Unable to verify " + reg + " register, expected: ");
        return ok ? std::string() : "verification: " + seen;
    }
    if (step == "Reading SWV Data") {
        const bool count =
            c.error.empty() && c.warning == "Unable to read SWV record size" + Status(c.result);
        const bool fetch = c.error == "Unable to read SWV records" + Status(c.result);
        const bool tooSmall =
            c.result == DRAVIK_REFUSED && c.error == "Buffer is too small, data is lost";
        return count || fetch || tooSmall ? std::string() : "trace read: " + seen;
    }
    if (step == "Read generation") {
        const bool ok = c.result == DRAVIK_REFUSED &&
                        StartsWith(c.error, "Generation of device " + serial + " is too old");
        return ok ? std::string() : "generation: " + seen;
    }
    return "a failure at an unexpected step: " + seen;
}

}  // namespace dravik::test
