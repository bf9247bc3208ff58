#include "dravik/swv/PortFormatter.h"

#include <cstdio>

namespace dravik::swv {

namespace {

bool isTextByte(uint8_t c) {
    return c == '\t' || c == '\n' || c == '\r' || c == 0 || (c >= 0x20 && c != 0x7F);
}

uint8_t payloadByte(const itm::Packet& packet, unsigned i) {
    return static_cast<uint8_t>((packet.value >> (8 * i)) & 0xFF);
}

}  // namespace

const char* portFormatName(PortFormat format) noexcept {
    switch (format) {
        case PortFormat::Auto:
            return "auto";
        case PortFormat::Text:
            return "text";
        case PortFormat::Hex:
            return "hex";
        case PortFormat::Dec:
            return "dec";
    }
    return "unknown";
}

bool parsePortFormat(std::string_view name, PortFormat& format) noexcept {
    for (PortFormat f : {PortFormat::Auto, PortFormat::Text, PortFormat::Hex, PortFormat::Dec}) {
        if (name == portFormatName(f)) {
            format = f;
            return true;
        }
    }
    return false;
}

void appendEscaped(std::string_view text, std::string& out) {
    for (char ch : text) {
        const auto c = static_cast<uint8_t>(ch);
        if ((c < 0x20 && c != '\t') || c == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        } else {
            out += ch;
        }
    }
}

PortFormatter::PortFormatter(unsigned port, PortFormat format, bool prefix)
    : port_(port), format_(format), prefix_(prefix), lines_(port) {}

void PortFormatter::appendLine(std::string_view text, std::string& out) const {
    if (prefix_) {
        out += '[';
        out += std::to_string(port_);
        out += "] ";
    }
    appendEscaped(text, out);
    out += '\n';
}

void PortFormatter::appendNumber(const itm::Packet& packet, bool decimal, std::string& out) const {
    char number[32];
    if (decimal) {
        std::snprintf(number, sizeof number, "%llu", static_cast<unsigned long long>(packet.value));
    } else {
        std::snprintf(number, sizeof number, "0x%0*llx", 2 * packet.size,
                      static_cast<unsigned long long>(packet.value));
    }
    appendLine(number, out);
}

void PortFormatter::addText(const itm::Packet& packet, std::string& out) {
    lines_.add(packet, [&](std::string_view line) { appendLine(line, out); });
}

void PortFormatter::add(const itm::Packet& packet, std::string& out) {
    if (packet.kind != itm::PacketKind::Instrumentation || packet.port != port_) {
        return;
    }
    switch (format_) {
        case PortFormat::Text:
            addText(packet, out);
            return;
        case PortFormat::Hex:
        case PortFormat::Dec:
            appendNumber(packet, format_ == PortFormat::Dec, out);
            return;
        case PortFormat::Auto:
            break;
    }
    if (numbers_) {
        appendNumber(packet, false, out);
        return;
    }
    bool allZero = true;
    bool text = true;
    for (unsigned i = 0; i < packet.size; ++i) {
        const uint8_t c = payloadByte(packet, i);
        allZero = allZero && c == 0;
        text = text && isTextByte(c);
    }
    if (!text) {
        numbers_ = true;
        flush(out);
        for (const itm::Packet& held : undecided_) {
            appendNumber(held, false, out);
        }
        undecided_.clear();
        appendNumber(packet, false, out);
        return;
    }
    if (allZero && !sawText_) {
        // Padding for text, or a zero from a counter: the next writes tell.
        if (undecided_.size() < kMaxUndecided) {
            undecided_.push_back(packet);
        }
        return;
    }
    sawText_ = true;
    undecided_.clear();
    addText(packet, out);
}

void PortFormatter::flush(std::string& out) {
    lines_.flush([&](std::string_view line) { appendLine(line, out); });
}

}  // namespace dravik::swv
