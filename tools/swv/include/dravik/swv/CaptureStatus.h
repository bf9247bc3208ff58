// What the status shows while a capture runs and in its summary: throughput, packets, packets per
// port (those on ports the setup did not enable apart), and the four kinds of loss kept apart,
// since each has its own cure: overflow packets (the target's ITM dropped writes), decode errors
// (bytes that formed no packet: wrong rate or encoding), host drops (the library discarded pending
// bytes, result 403) and read failures; plus bytes the tool's own queue had to drop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dravik/swv/StreamHealth.h"
#include "dravik/swv/TracePipeline.h"

namespace dravik::swv {

struct StatusSnapshot {
    double elapsedSeconds = 0;
    uint64_t bytes = 0;         // trace bytes received
    double bytesPerSecond = 0;  // recent throughput
    uint64_t packets = 0;
    std::vector<std::pair<unsigned, uint64_t>> portPackets;  // enabled ports with packets, in order
    // Ports the setup did not enable that had packets anyway, in order, and their packets.
    std::vector<std::pair<unsigned, uint64_t>> unexpectedPorts;
    uint64_t unexpectedPackets = 0;
    uint64_t overflows = 0;
    uint64_t decodeErrors = 0;  // bytes
    uint64_t hostDrops = 0;     // reads refused with 403
    uint64_t readFailures = 0;
    uint64_t queueDropBytes = 0;
    uint64_t bufferFullPolls = 0;  // polls that found the probe's buffer full
    // The summary's lines of what else took part (the stream server and its clients, a network
    // input), each starting with two spaces; before the verdict.
    std::vector<std::string> details;
    std::optional<HealthVerdict> health;  // the summary's last line
};

// Fills the packet side of a snapshot from the pipeline's counters (gaps included).
StatusSnapshot snapshotFrom(const PipelineCounters& counters);

// "1.2 MB"-style amounts: B, kB or MB (decimal units) with one decimal.
std::string formatByteCount(double bytes);
// "1.2 MB/s"-style throughput.
std::string formatByteRate(double bytesPerSecond);

// One line for the terminal, without line end, the most important first: time, throughput,
// amount, packets, the losses that happened ("no losses" when none), then the packets per port.
std::string formatStatusLine(const StatusSnapshot& status);

// The summary at the end, one item per line, the health verdict last; `what` is "captured" or
// "decoded".
std::string formatSummary(const StatusSnapshot& status, const char* what);

// Throughput over a sliding window of about `windowUs`.
class RateMeter {
  public:
    explicit RateMeter(uint64_t windowUs = 1000000) : windowUs_(windowUs) {}
    // Notes the byte total at a time; returns the rate over the window.
    double update(uint64_t nowUs, uint64_t totalBytes);

  private:
    uint64_t windowUs_;
    bool started_ = false;
    uint64_t baseUs_ = 0;
    uint64_t baseBytes_ = 0;
    uint64_t lastUs_ = 0;
    uint64_t lastBytes_ = 0;
    double rate_ = 0;
};

}  // namespace dravik::swv
