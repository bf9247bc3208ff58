// What every benchmark program shares: its own command-line settings next to Google
// Benchmark's, and a summary of the figures against their goals printed after the run.
#pragma once

#include <cstdint>
#include <string>

namespace dravik::bench {

struct Settings {
    uint64_t latencyUs = 125;  // --latency_us: the exchange latency, a USB high-speed round trip
    uint64_t jitterUs = 0;     // --jitter_us: extra latency of 0 to this much per exchange
    uint64_t streamMiB = 64;   // --stream_mib: size of the largest recorded trace stream
    uint64_t drainMs = 10000;  // --drain_ms: length of each trace capture in real time
};

const Settings& settings();

// One line of the summary; a later line under the same key replaces the earlier one, so the
// figures of Google Benchmark's last (longest) run of a benchmark are the ones shown.
void Report(const std::string& key, const std::string& line);
// A benchmark whose work went wrong (not merely slow): the program then exits with 1.
void ReportFailure(const std::string& key, const std::string& why);

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Takes the settings out of argv, runs the registered benchmarks after `registerAll` and
// prints the summary. Returns the program's exit status.
int RunBenchmarks(int argc, char** argv, void (*registerAll)());

}  // namespace dravik::bench
