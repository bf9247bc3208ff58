// Whether a decoded SWO stream looks like trace or like garbage. A receiver at the wrong rate or
// encoding does not fail: it hands over bytes, and the decoder makes packets of many of them, so
// a wrong --clock used to look like a capture that worked. This judges the stream from the
// decoder's counters: bytes that formed no packet, instrumentation packets on ports the setup did
// not enable, and overflow packets, against all bytes decoded, over a sliding window (a stream that
// goes bad part-way) and over the whole run (one shorter than a window).
//
// Feed it the counters as they stand, as often as convenient, and ask for the verdict:
//
//     StreamHealth health;
//     if (health.update(tally)) { ...the stream just turned unhealthy: warn once... }
//     const HealthVerdict verdict = health.verdict();
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace dravik::swv {

// Counters of one stream since its start; each only grows.
struct StreamTally {
    uint64_t bytes = 0;              // bytes decoded (bytes lost in gaps are not among them)
    uint64_t packets = 0;            // packets but synchronisation packets
    uint64_t undecodableBytes = 0;   // bytes that formed no packet (a gap's cut packet not counted)
    uint64_t unexpectedPackets = 0;  // instrumentation packets on ports not enabled
    uint64_t overflows = 0;          // overflow packets

    StreamTally since(const StreamTally& earlier) const;
};

enum class StreamCondition : uint8_t {
    NoTrace,      // not a byte arrived, or synchronisation packets only
    TooLittle,    // fewer bytes than a verdict needs
    Healthy,      // the bytes decode, on the ports enabled
    Corrupt,      // many bytes form no packet: the receiver's rate or encoding is not the line's
    StrayPorts,   // the bytes decode, but many packets come on ports not enabled
    Overflowing,  // the bytes decode, but the target's ITM keeps dropping writes
};

struct HealthVerdict {
    StreamCondition condition = StreamCondition::NoTrace;
    StreamTally span;  // what it was judged on: the first unhealthy window, else the whole run

    // Corrupt, StrayPorts or Overflowing: what --strict fails.
    bool unhealthy() const;
};

class StreamHealth {
  public:
    // Bench measurements behind the numbers (the default target, 2 Mbit/s asked, 1 s each):
    // - a clean stream, at the right clock, at clocks within 3 % (70 and 74 MHz for a 72 MHz
    //   target) and with any port mask: 0 undecodable bytes, 0 packets on ports not enabled, 0
    //   overflows;
    // - wrong clocks (36, 48, 64, 75, 80 and 144 MHz) and Manchester on the probe's UART: the
    //   receiver reads garbage; 13.1 to 14.0 % of its bytes form no packet, and packets on ports
    //   not enabled come to another 11 to 16 per 100 bytes (the garbage's page packets move most
    //   writes to ports 32..255), overflows 0.15 to 0.3 per 100 bytes;
    // - a target writing five times what the line carries: no byte undecodable, but an overflow
    //   packet after every other write, 16.7 per 100 bytes.
    // So 5 suspicious events per 100 bytes separates them: garbage shows at least 2.6 times as
    // many from its undecodable bytes alone, and a clean stream would need one damaged byte in
    // twenty. What the suspicious events mostly are names the condition: undecodable bytes at
    // half the threshold or more are garbage (overflowing or stray-port streams have none).
    static constexpr double kThreshold = 0.05;
    static constexpr double kCorruptUndecodable = kThreshold / 2;
    // A window of about one probe buffer's worth: a stream that turns bad is seen within 4 KiB.
    static constexpr uint64_t kWindowBytes = 4096;
    // Fewer bytes say too little: a receiver started inside a packet spoils a few on its own.
    static constexpr uint64_t kMinBytes = 256;

    // The counters as they stand (never smaller than last time). Returns true once, when a
    // window first turns out unhealthy.
    bool update(const StreamTally& now);
    // The first unhealthy window if there was one, else the whole run.
    HealthVerdict verdict() const;

    // The condition of one span of the stream.
    static StreamCondition judge(const StreamTally& span);

  private:
    std::deque<StreamTally> samples_;  // the window's start is the oldest
    StreamTally total_;
    std::optional<HealthVerdict> firstUnhealthy_;
};

// "good", "corrupt: 13.6 % of the bytes formed no packet, ...": the summary's verdict, after
// "health: ".
std::string describeVerdict(const HealthVerdict& verdict);

}  // namespace dravik::swv
