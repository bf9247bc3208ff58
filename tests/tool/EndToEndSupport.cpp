#include "EndToEndSupport.h"

#include <regex>

namespace dravik::swv::test {

const std::vector<std::string> kBenchRate = {"--clock", "72000000", "--swo-rate", "2000000"};

const char* const kManualBench = R"({"clock": {"mode": "manual", "exchangeLatencyUs": 5000}})";

ToolRun onBench(std::vector<std::string> args, const std::string& config) {
    return ToolRun(std::move(args), "", config);
}

std::string withTarget(const std::string& probe) {
    return R"({"clock": {"mode": "manual", "exchangeLatencyUs": 5000}, "probes": [)" + probe + "]}";
}

std::vector<std::string> capture(std::vector<std::string> extra) {
    std::vector<std::string> args = {"capture"};
    args.insert(args.end(), kBenchRate.begin(), kBenchRate.end());
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

std::string traceUnavailableReason() {
    static const std::string reason = [] {
        const ProcessResult probe =
            runToolProcess(onBench(capture({"--duration", "0.5", "--ports", "0x3", "-q"})));
        std::smatch missing;
        if (std::regex_search(probe.err, missing,
                              std::regex("libDravikTrace.so has no (Dravik[A-Za-z]+)"))) {
            return "libDravikTrace.so has no " + missing[1].str() +
                   " yet (target selection and trace setup are not merged)";
        }
        if (probe.exitStatus == 0 && probe.err.find("captured 0 bytes") != std::string::npos) {
            return std::string(
                "the bench's target sends no trace yet (the end-to-end trace path is pending)");
        }
        return std::string();
    }();
    return reason;
}

}  // namespace dravik::swv::test
