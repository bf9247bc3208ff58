#include "dravik/swv/PacketRecords.h"

#include <array>
#include <cstdio>

#include "dravik/profile/ExceptionTracker.h"
#include "dravik/swv/EnumNames.h"
#include "dravik/swv/PortFormatter.h"

namespace dravik::swv {

namespace {

void appendUnsigned(uint64_t value, std::string& out) {
    char text[24];
    std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
    out += text;
}

void appendSeconds(double seconds, int decimals, std::string& out) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, seconds);
    out += text;
}

double hostSeconds(uint64_t us) {
    return static_cast<double>(us) / 1e6;
}

constexpr std::array<const char*, itm::kPacketKindCount> kRecordKinds = {
    "sync",
    "overflow",
    "instrumentation",
    "event_counter",
    "exception_trace",
    "pc_sample",
    "pc_sleep",
    "data_trace_pc",
    "data_trace_address",
    "data_trace_value",
    "local_timestamp",  // both forms; "relation" tells them apart
    "local_timestamp",
    "global_timestamp_low",
    "global_timestamp_high",
    "stimulus_page",
    "extension",
};
static_assert(static_cast<size_t>(itm::PacketKind::Extension) + 1 == kRecordKinds.size());

const char* relationIdentifier(itm::TimestampRelation relation) {
    switch (relation) {
        case itm::TimestampRelation::Synchronous:
            return "synchronous";
        case itm::TimestampRelation::TimestampDelayed:
            return "timestamp_delayed";
        case itm::TimestampRelation::PacketDelayed:
            return "packet_delayed";
        case itm::TimestampRelation::BothDelayed:
            return "both_delayed";
    }
    return "unknown";
}

bool isDataTrace(itm::PacketKind kind) {
    return kind == itm::PacketKind::DataTracePc || kind == itm::PacketKind::DataTraceAddress ||
           kind == itm::PacketKind::DataTraceValue;
}

bool isLocalTimestamp(itm::PacketKind kind) {
    return kind == itm::PacketKind::LocalTimestamp1 || kind == itm::PacketKind::LocalTimestamp2;
}

// What the CSV's last column says of a packet: the one property of its kind that the other
// columns do not hold, as an identifier; empty when there is none.
std::string detail(const itm::Packet& packet) {
    if (packet.kind == itm::PacketKind::ExceptionTrace) {
        return itm::exceptionFunctionName(packet.function);
    }
    if (isLocalTimestamp(packet.kind)) {
        return relationIdentifier(packet.relation);
    }
    if (packet.kind == itm::PacketKind::DataTraceValue) {
        return packet.isWrite() ? "write" : "read";
    }
    if (packet.kind == itm::PacketKind::GlobalTimestamp1) {
        std::string flags;
        if (packet.wrapped()) {
            flags = "wrap";
        }
        if (packet.clockChanged()) {
            flags += flags.empty() ? "clock_change" : "+clock_change";
        }
        return flags;
    }
    return {};
}

// A CSV field: quoted, quotes doubled, control characters as \xNN so a record stays one line.
void appendCsvText(std::string_view text, std::string& out) {
    std::string escaped;
    appendEscaped(text, escaped);
    out += '"';
    for (char c : escaped) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    out += '"';
}

// Length of the UTF-8 sequence at text[at], or 0 when the bytes there are not one.
size_t utf8Length(std::string_view text, size_t at) {
    const auto lead = static_cast<uint8_t>(text[at]);
    size_t length = 0;
    uint32_t min = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < length) {
        return 0;
    }
    uint32_t code = lead & (0x3Fu >> (length - 1));
    for (size_t i = 1; i < length; ++i) {
        const auto c = static_cast<uint8_t>(text[at + i]);
        if ((c & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (c & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < min || code > 0x10FFFF || surrogate ? 0 : length;
}

}  // namespace

const char* outputFormatName(OutputFormat format) noexcept {
    switch (format) {
        case OutputFormat::Text:
            return "text";
        case OutputFormat::Jsonl:
            return "jsonl";
        case OutputFormat::Csv:
            return "csv";
    }
    return "unknown";
}

bool parseOutputFormat(std::string_view name, OutputFormat& format) noexcept {
    static constexpr OutputFormat kFormats[] = {OutputFormat::Text, OutputFormat::Jsonl,
                                                OutputFormat::Csv};
    return parseByName(name, kFormats, outputFormatName, format);
}

const char* recordKindName(itm::PacketKind kind) noexcept {
    const auto index = static_cast<size_t>(kind);
    return index < kRecordKinds.size() ? kRecordKinds[index] : "unknown";
}

const char* gapCauseIdentifier(GapCause cause) noexcept {
    switch (cause) {
        case GapCause::None:
            return "none";
        case GapCause::QueueFull:
            return "queue_full";
        case GapCause::ProbeDropped:
            return "probe_dropped";
        case GapCause::ReadFailure:
            return "read_failure";
    }
    return "unknown";
}

void appendJsonString(std::string_view text, std::string& out) {
    out += '"';
    for (size_t at = 0; at < text.size();) {
        const char ch = text[at];
        const auto c = static_cast<uint8_t>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (c >= 0x80) {
            const size_t length = utf8Length(text, at);
            if (length != 0) {
                out.append(text.data() + at, length);
                at += length;
                continue;
            }
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += ch;
        }
        ++at;
    }
    out += '"';
}

PacketRecordFormatter::PacketRecordFormatter(OutputFormat format, const TargetClocks& clocks)
    : format_(format), clocks_(clocks) {}

std::string PacketRecordFormatter::header() const {
    std::string out;
    if (format_ == OutputFormat::Csv) {
        out = "kind,port,size,value,text,ticks,time,host_time,detail\nheader,,,";
        appendUnsigned(kRecordFormatVersion, out);
        return out + ",,,,,\n";
    }
    out = "{\"kind\":\"header\",\"version\":";
    appendUnsigned(kRecordFormatVersion, out);
    if (clocks_.globalHz > 0) {
        out += ",\"clock_hz\":";
        appendSeconds(clocks_.globalHz, 0, out);
    }
    if (clocks_.timestampHz > 0) {
        out += ",\"timestamp_hz\":";
        appendSeconds(clocks_.timestampHz, 0, out);
    }
    return out + "}\n";
}

void PacketRecordFormatter::appendPacket(const TimedPacket& timed,
                                         std::optional<std::string_view> text,
                                         std::string& out) const {
    const itm::Packet& packet = timed.packet;
    const bool hasPort = packet.kind == itm::PacketKind::Instrumentation;
    const bool hasComparator = isDataTrace(packet.kind);
    if (format_ == OutputFormat::Csv) {
        out += recordKindName(packet.kind);
        out += ',';
        if (hasPort || hasComparator) {
            appendUnsigned(hasPort ? packet.port : packet.comparator, out);
        }
        out += ',';
        appendUnsigned(packet.size, out);
        out += ',';
        appendUnsigned(packet.value, out);
        out += ',';
        if (text) {
            appendCsvText(*text, out);
        }
        out += ',';
        if (timed.ticks) {
            appendUnsigned(*timed.ticks, out);
        }
        out += ',';
        if (timed.seconds) {
            appendSeconds(*timed.seconds, 9, out);
        }
        out += ',';
        if (timed.hostUs) {
            appendSeconds(hostSeconds(*timed.hostUs), 6, out);
        }
        out += ',';
        out += detail(packet);
        out += '\n';
        return;
    }
    out += "{\"kind\":\"";
    out += recordKindName(packet.kind);
    out += '"';
    if (hasPort) {
        out += ",\"port\":";
        appendUnsigned(packet.port, out);
    }
    if (hasComparator) {
        out += ",\"comparator\":";
        appendUnsigned(packet.comparator, out);
    }
    out += ",\"size\":";
    appendUnsigned(packet.size, out);
    out += ",\"value\":";
    appendUnsigned(packet.value, out);
    if (text) {
        out += ",\"text\":";
        appendJsonString(*text, out);
    }
    if (packet.kind == itm::PacketKind::ExceptionTrace) {
        out += ",\"function\":\"";
        out += itm::exceptionFunctionName(packet.function);
        out += "\",\"name\":";
        appendJsonString(profile::exceptionName(static_cast<unsigned>(packet.value)), out);
    } else if (isLocalTimestamp(packet.kind)) {
        out += ",\"relation\":\"";
        out += relationIdentifier(packet.relation);
        out += '"';
    } else if (packet.kind == itm::PacketKind::DataTraceValue) {
        out += packet.isWrite() ? ",\"access\":\"write\"" : ",\"access\":\"read\"";
    } else if (packet.kind == itm::PacketKind::GlobalTimestamp1) {
        out += packet.wrapped() ? ",\"wrap\":true" : "";
        out += packet.clockChanged() ? ",\"clock_change\":true" : "";
    }
    if (timed.ticks) {
        out += ",\"ticks\":";
        appendUnsigned(*timed.ticks, out);
    }
    if (timed.seconds) {
        out += ",\"time\":";
        appendSeconds(*timed.seconds, 9, out);
    }
    if (timed.hostUs) {
        out += ",\"host_time\":";
        appendSeconds(hostSeconds(*timed.hostUs), 6, out);
    }
    out += "}\n";
}

void PacketRecordFormatter::appendGap(GapCause cause, uint64_t lostBytes,
                                      std::optional<uint64_t> hostUs, std::string& out) const {
    if (format_ == OutputFormat::Csv) {
        out += "gap,,,";
        appendUnsigned(lostBytes, out);
        out += ",,,,";
        if (hostUs) {
            appendSeconds(hostSeconds(*hostUs), 6, out);
        }
        out += ',';
        out += gapCauseIdentifier(cause);
        out += '\n';
        return;
    }
    out += "{\"kind\":\"gap\",\"cause\":\"";
    out += gapCauseIdentifier(cause);
    out += "\",\"lost_bytes\":";
    appendUnsigned(lostBytes, out);
    if (hostUs) {
        out += ",\"host_time\":";
        appendSeconds(hostSeconds(*hostUs), 6, out);
    }
    out += "}\n";
}

}  // namespace dravik::swv
