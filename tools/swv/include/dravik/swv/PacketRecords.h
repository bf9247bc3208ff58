// One record per packet for scripts: JSON lines or CSV with kind, port, size, value, the
// characters of a text port's write, and the time when known, both the target's (from the ITM's
// timestamps) and the host's (when the bytes were read from the probe). The field set is stable:
// a change to it raises kRecordFormatVersion, which the first record carries.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dravik/itm/Packet.h"
#include "dravik/swv/PacketTimer.h"
#include "dravik/swv/Recording.h"

namespace dravik::swv {

enum class OutputFormat : uint8_t { Text, Jsonl, Csv };

const char* outputFormatName(OutputFormat format) noexcept;
bool parseOutputFormat(std::string_view name, OutputFormat& format) noexcept;

inline constexpr unsigned kRecordFormatVersion = 1;

// The record kind of a packet: an identifier ("instrumentation", "local_timestamp", ...).
const char* recordKindName(itm::PacketKind kind) noexcept;
// "queue_full", "probe_dropped", "read_failure".
const char* gapCauseIdentifier(GapCause cause) noexcept;

class PacketRecordFormatter {
  public:
    PacketRecordFormatter(OutputFormat format, const TargetClocks& clocks);

    // What comes before the first packet: for CSV the column names, then (both formats) a
    // record of kind "header" with the format version.
    std::string header() const;
    // text: the characters of a write to a port shown as text; nullopt for other packets.
    void appendPacket(const TimedPacket& packet, std::optional<std::string_view> text,
                      std::string& out) const;
    void appendGap(GapCause cause, uint64_t lostBytes, std::optional<uint64_t> hostUs,
                   std::string& out) const;

  private:
    OutputFormat format_;
    TargetClocks clocks_;
};

// A JSON string literal with the quotes. Bytes that are not UTF-8 are written as \u00XX, so the
// line stays valid JSON whatever the target sent.
void appendJsonString(std::string_view text, std::string& out);

}  // namespace dravik::swv
