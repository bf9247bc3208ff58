#include "dravik/swv/PacketRecords.h"

#include <cstdio>

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

std::optional<double> targetSeconds(const TimedPacket& packet, double timestampHz) {
    if (!packet.ticks || timestampHz <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(*packet.ticks) / timestampHz;
}

double hostSeconds(uint64_t us) {
    return static_cast<double>(us) / 1e6;
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
    for (OutputFormat f : {OutputFormat::Text, OutputFormat::Jsonl, OutputFormat::Csv}) {
        if (name == outputFormatName(f)) {
            format = f;
            return true;
        }
    }
    return false;
}

bool PacketTimer::isLocalTimestamp(const itm::Packet& packet) {
    return packet.kind == itm::PacketKind::LocalTimestamp1 ||
           packet.kind == itm::PacketKind::LocalTimestamp2;
}

void PacketTimer::add(const itm::Packet& packet, std::optional<uint64_t> hostUs,
                      std::vector<TimedPacket>& out) {
    if (isLocalTimestamp(packet)) {
        ticks_ = ticks_.value_or(0) + packet.value;
        if (held_) {
            held_->ticks = ticks_;
            out.push_back(*held_);
            held_.reset();
        }
        out.push_back(TimedPacket{packet, ticks_, hostUs});
        return;
    }
    if (held_) {
        held_->ticks = ticks_;
        out.push_back(*held_);
    }
    held_ = TimedPacket{packet, std::nullopt, hostUs};
}

void PacketTimer::flush(std::vector<TimedPacket>& out) {
    if (held_) {
        held_->ticks = ticks_;
        out.push_back(*held_);
        held_.reset();
    }
}

void appendJsonString(std::string_view text, std::string& out) {
    out += '"';
    for (char ch : text) {
        const auto c = static_cast<uint8_t>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += ch;
        }
    }
    out += '"';
}

PacketRecordFormatter::PacketRecordFormatter(OutputFormat format, double timestampHz)
    : format_(format), timestampHz_(timestampHz) {}

std::string PacketRecordFormatter::header() const {
    return format_ == OutputFormat::Csv ? "kind,port,size,value,ticks,time,host_time\n" : "";
}

void PacketRecordFormatter::appendPacket(const TimedPacket& timed, std::string& out) const {
    const itm::Packet& packet = timed.packet;
    const bool hasPort = packet.kind == itm::PacketKind::Instrumentation;
    const std::optional<double> time = targetSeconds(timed, timestampHz_);
    if (format_ == OutputFormat::Csv) {
        out += itm::packetKindName(packet.kind);
        out += ',';
        if (hasPort) {
            appendUnsigned(packet.port, out);
        }
        out += ',';
        appendUnsigned(packet.size, out);
        out += ',';
        appendUnsigned(packet.value, out);
        out += ',';
        if (timed.ticks) {
            appendUnsigned(*timed.ticks, out);
        }
        out += ',';
        if (time) {
            appendSeconds(*time, 9, out);
        }
        out += ',';
        if (timed.hostUs) {
            appendSeconds(hostSeconds(*timed.hostUs), 6, out);
        }
        out += '\n';
        return;
    }
    out += "{\"kind\":";
    appendJsonString(itm::packetKindName(packet.kind), out);
    if (hasPort) {
        out += ",\"port\":";
        appendUnsigned(packet.port, out);
    }
    out += ",\"size\":";
    appendUnsigned(packet.size, out);
    out += ",\"value\":";
    appendUnsigned(packet.value, out);
    if (timed.ticks) {
        out += ",\"ticks\":";
        appendUnsigned(*timed.ticks, out);
    }
    if (time) {
        out += ",\"time\":";
        appendSeconds(*time, 9, out);
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
        out += "gap: ";
        out += gapCauseName(cause);
        out += ",,,";
        appendUnsigned(lostBytes, out);
        out += ",,,";
        if (hostUs) {
            appendSeconds(hostSeconds(*hostUs), 6, out);
        }
        out += '\n';
        return;
    }
    out += "{\"kind\":\"gap\",\"cause\":";
    appendJsonString(gapCauseName(cause), out);
    out += ",\"lost_bytes\":";
    appendUnsigned(lostBytes, out);
    if (hostUs) {
        out += ",\"host_time\":";
        appendSeconds(hostSeconds(*hostUs), 6, out);
    }
    out += "}\n";
}

}  // namespace dravik::swv
