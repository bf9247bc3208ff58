// One record per packet for scripts: JSON lines or CSV with kind, port, size, value and the time
// when known, both the target's (from ITM local timestamps) and the host's (when the bytes were
// read from the probe).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dravik/itm/Packet.h"
#include "dravik/swv/Recording.h"

namespace dravik::swv {

enum class OutputFormat : uint8_t { Text, Jsonl, Csv };

const char* outputFormatName(OutputFormat format) noexcept;
bool parseOutputFormat(std::string_view name, OutputFormat& format) noexcept;

struct TimedPacket {
    itm::Packet packet;
    std::optional<uint64_t> ticks;   // timestamp clock ticks since the first timestamp's base
    std::optional<uint64_t> hostUs;  // host time the bytes were read
};

// Gives packets their target time from the local timestamps around them. A local timestamp times
// the packet right before it; a packet that no timestamp follows happened when the last timestamp
// did (the ITM sends none when no tick has passed). So each packet is held until the next one
// shows which case it is.
class PacketTimer {
  public:
    void add(const itm::Packet& packet, std::optional<uint64_t> hostUs,
             std::vector<TimedPacket>& out);
    // End of stream (or a gap): the held packet goes out with the time known so far.
    void flush(std::vector<TimedPacket>& out);

  private:
    static bool isLocalTimestamp(const itm::Packet& packet);

    std::optional<TimedPacket> held_;
    std::optional<uint64_t> ticks_;
};

class PacketRecordFormatter {
  public:
    // timestampHz: the ITM timestamp clock; 0 when not known (no "time" then).
    PacketRecordFormatter(OutputFormat format, double timestampHz);

    // The CSV header line; empty for JSON lines.
    std::string header() const;
    void appendPacket(const TimedPacket& packet, std::string& out) const;
    void appendGap(GapCause cause, uint64_t lostBytes, std::optional<uint64_t> hostUs,
                   std::string& out) const;

  private:
    OutputFormat format_;
    double timestampHz_;
};

// A JSON string literal with the quotes.
void appendJsonString(std::string_view text, std::string& out);

}  // namespace dravik::swv
