// From SWO bytes to what the user sees: the ITM decoder, then per-port text or one record per
// packet on the main output, per-port files, and the counters the status shows. The same pipeline
// serves a live capture and the replay of a recording. Output is collected per call and written by
// flush(), so a caller decides when the (possibly slow) streams are touched.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "dravik/itm/Decoder.h"
#include "dravik/swv/PacketRecords.h"
#include "dravik/swv/PortFormatter.h"
#include "dravik/swv/Recording.h"
#include "dravik/swv/StreamHealth.h"

namespace dravik::swv {

inline constexpr unsigned kPortCount = 256;  // 8 pages of 32 stimulus ports

struct PortRoute {
    unsigned port = 0;
    PortFormat format = PortFormat::Auto;
};

struct PortFileRoute {
    unsigned port = 0;
    PortFormat format = PortFormat::Auto;
    std::ostream* stream = nullptr;
};

struct PipelineConfig {
    OutputFormat format = OutputFormat::Text;
    // Ports on the main output. Empty: every port 0..255 in `auto`; a port the setup did not
    // enable is shown too (with its number), since hiding it would hide trace, or the sign that
    // the decoder lost its place.
    std::vector<PortRoute> ports;
    // Stimulus ports the trace setup enabled (ports 0..31; ports 32..255 never are). Packets on
    // the others are counted as unexpected.
    uint32_t enabledMask = 0xFFFFFFFF;
    // Ports written to files are left out of the default set.
    std::vector<PortFileRoute> files;
    double timestampHz = 0;  // ITM timestamp clock; 0 when not known
    bool quiet = false;      // nothing on the main output
};

struct PipelineCounters {
    uint64_t bytes = 0;
    uint64_t packets = 0;
    std::array<uint64_t, kPortCount> portPackets{};  // instrumentation packets per port
    uint32_t enabledMask = 0xFFFFFFFF;               // as configured
    uint64_t unexpectedPackets = 0;                  // instrumentation packets on ports not enabled
    uint64_t overflows = 0;                          // overflow packets from the target
    uint64_t decodeErrors = 0;                       // bytes that formed no packet
    // Gaps the stream carried (recordings) or was told of.
    uint64_t queueDropBytes = 0;
    uint64_t probeDrops = 0;
    uint64_t readFailures = 0;
};

// The line text output shows where trace is missing: "[gap] 4096 bytes not shown: ...".
std::string gapLine(GapCause cause, uint64_t lostBytes);

class TracePipeline {
  public:
    // main: the main output (may be null with `quiet`).
    TracePipeline(const PipelineConfig& config, std::ostream* main);
    // Routes point into the pipeline itself.
    TracePipeline(const TracePipeline&) = delete;
    TracePipeline& operator=(const TracePipeline&) = delete;

    void data(const uint8_t* bytes, size_t size, std::optional<uint64_t> hostUs);
    // Trace is missing here: no packet is made of the bytes on both sides of it, and the bytes of
    // the packet it cut are not decode errors. Text output shows a line at the place.
    void gap(GapCause cause, uint64_t lostBytes, std::optional<uint64_t> hostUs);
    // End of the stream: partial packets and unfinished lines go out.
    void finish();
    // Writes what has been produced; false when a stream failed (failedStream() says which).
    bool flush();

    PipelineCounters counters() const;
    // What the health check is fed, and its verdict so far.
    StreamTally tally() const;
    const StreamHealth& health() const { return health_; }
    // True once, when the stream first turned out unhealthy.
    bool takeHealthAlarm();
    const std::string& failedStream() const { return failed_; }
    // The main output is the stream that failed.
    bool mainFailed() const { return mainFailed_; }
    // Nothing more goes to the main output (its reader went away); files go on.
    void closeMain();
    // Whether lines carry their port (more than one enabled port on the main output); lines of
    // an unexpected port always do.
    bool prefixesLines() const { return prefix_; }

  private:
    struct Output {
        std::ostream* stream = nullptr;
        std::string name;
        std::string pending;
    };
    struct Route {
        PortFormatter formatter;
        Output* output;
    };

    // The health check sees the counters at fixed offsets of the stream, so that its verdict
    // does not depend on how the bytes were chunked.
    static constexpr uint64_t kHealthSliceBytes = 1024;

    void onPacket(const itm::Packet& packet, std::optional<uint64_t> hostUs);
    void decode(const uint8_t* bytes, size_t size, std::optional<uint64_t> hostUs);
    void noteHealth();
    void writeRecords();
    void endSegment();

    PipelineConfig config_;
    bool prefix_ = false;
    itm::Decoder decoder_;
    Output main_;
    std::vector<std::unique_ptr<Output>> files_;
    std::array<std::vector<Route>, kPortCount> routes_;
    std::array<bool, kPortCount> onMain_{};  // for the record formats' port filter
    std::array<bool, kPortCount> enabled_{};
    PacketTimer timer_;
    PacketRecordFormatter records_;
    std::vector<TimedPacket> timed_;
    PipelineCounters counters_;
    // Bytes of packets that a gap or the end of the capture cut: not decode errors.
    uint64_t cutBytes_ = 0;
    // Bytes after a gap that may still belong to the packet it cut (its payload is at most
    // kMaxPacketBytes - 1 long); what the decoder drops of them is counted as cut.
    size_t tailAfterGap_ = 0;
    StreamHealth health_;
    bool healthAlarm_ = false;
    std::string failed_;
    bool mainFailed_ = false;
};

}  // namespace dravik::swv
