#include "dravik/swv/PortFormatter.h"

#include <cstdio>

#include "dravik/swv/Colour.h"
#include "dravik/swv/EnumNames.h"

namespace dravik::swv {

namespace {

bool isTextByte(uint8_t c) {
    return c == '\t' || c == '\n' || c == '\r' || c == 0 || (c >= 0x20 && c != 0x7F);
}

uint8_t payloadByte(const itm::Packet& packet, unsigned i) {
    return static_cast<uint8_t>((packet.value >> (8 * i)) & 0xFF);
}

LineStamp stampOf(const TimedPacket& write) {
    return LineStamp{write.seconds, write.hostUs};
}

// Whether the non-NUL bytes of a write hold whole UTF-8 characters only (plain ASCII among them).
bool wholeUtf8(const itm::Packet& write) {
    unsigned continuations = 0;  // still owed by the character begun
    for (unsigned i = 0; i < write.size; ++i) {
        const uint8_t c = payloadByte(write, i);
        if (c == 0) {
            continue;
        }
        if ((c & 0xC0) == 0x80) {
            if (continuations == 0) {
                return false;
            }
            --continuations;
            continue;
        }
        if (continuations != 0) {
            return false;
        }
        if (c >= 0xF8 || (c >= 0x80 && c < 0xC2)) {
            return false;
        }
        continuations = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    }
    return continuations == 0;
}

constexpr PortFormat kNamedFormats[] = {PortFormat::Auto, PortFormat::Text,   PortFormat::Hex,
                                        PortFormat::Dec,  PortFormat::Signed, PortFormat::Float};

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
        case PortFormat::Signed:
            return "signed";
        case PortFormat::Float:
            return "float";
        case PortFormat::Pattern:
            return "pattern";
    }
    return "unknown";
}

bool parsePortFormat(std::string_view name, PortFormat& format) noexcept {
    return parseByName(name, kNamedFormats, portFormatName, format);
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

WriteClass classifyWrite(const itm::Packet& write, WriteClass previous) noexcept {
    bool anyNul = false;
    bool anyText = false;
    for (unsigned i = 0; i < write.size; ++i) {
        const uint8_t c = payloadByte(write, i);
        if (!isTextByte(c)) {
            return WriteClass::Number;
        }
        anyNul = anyNul || c == 0;
        anyText = anyText || c != 0;
    }
    if (!anyText) {
        return WriteClass::Unclear;
    }
    // Padding ends a string where it stands, so a padded write that splits a character (0xCA in a
    // word, a counter past 201) is a number, not a fragment of text.
    if (anyNul && (previous == WriteClass::Number || !wholeUtf8(write))) {
        return WriteClass::Number;
    }
    return WriteClass::Text;
}

std::string writeCharacters(const itm::Packet& write) {
    std::string text;
    for (unsigned i = 0; i < write.size; ++i) {
        const uint8_t c = payloadByte(write, i);
        if (c != 0) {
            text += static_cast<char>(c);
        }
    }
    return text;
}

PortFormatter::PortFormatter(unsigned port, PortFormat format, bool prefix, ValuePattern pattern)
    : port_(port), format_(format), pattern_(std::move(pattern)), lines_(port) {
    if (prefix) {
        label_.text = "[" + std::to_string(port) + "]";
        label_.color = portColor(port);
    }
    if (format_ == PortFormat::Signed) {
        pattern_ = ValuePattern::signedDecimal();
    } else if (format_ == PortFormat::Float) {
        pattern_ = ValuePattern::ieeeFloat();
    }
}

void PortFormatter::addNumber(const TimedPacket& write, PortFormat shownAs, TextDisplay& display) {
    const itm::Packet& packet = write.packet;
    std::string text;
    const bool patterned = shownAs == PortFormat::Signed || shownAs == PortFormat::Float ||
                           shownAs == PortFormat::Pattern;
    // A write the pattern cannot show (a float conversion takes words only) is shown in hex.
    if (!patterned || !pattern_.format(packet, text)) {
        char number[32];
        if (shownAs == PortFormat::Dec) {
            std::snprintf(number, sizeof number, "%llu",
                          static_cast<unsigned long long>(packet.value));
        } else {
            std::snprintf(number, sizeof number, "0x%0*llx", 2 * packet.size,
                          static_cast<unsigned long long>(packet.value));
        }
        text = number;
    }
    display.row(label_, stampOf(write), text);
}

void PortFormatter::addText(const TimedPacket& write, TextDisplay& display) {
    lines_.add(write.packet, [&](std::string_view line) {
        const LineStamp stamp = waiting_ ? waitingStamp_ : stampOf(write);
        scratch_.clear();
        if (shown_ == 0) {
            appendEscaped(line, scratch_);
            display.row(label_, stamp, scratch_);
        } else {
            appendEscaped(line.substr(std::min(shown_, line.size())), scratch_);
            display.finish(static_cast<int>(port_), label_, stamp, scratch_);
        }
        shown_ = 0;
        waiting_ = false;
    });
    if (!waiting_ && lines_.pendingText().size() > shown_) {
        waiting_ = true;
        waitingStamp_ = stampOf(write);
        waitingSinceUs_ = write.hostUs.value_or(0);
    }
}

void PortFormatter::showWaiting(TextDisplay& display) {
    if (!waiting_) {
        return;
    }
    const std::string_view pending = lines_.pendingText();
    scratch_.clear();
    appendEscaped(pending.substr(shown_), scratch_);
    display.extend(static_cast<int>(port_), label_, waitingStamp_, scratch_);
    shown_ = pending.size();
    waiting_ = false;
}

void PortFormatter::showHeld(TextDisplay& display) {
    for (const TimedPacket& held : undecided_) {
        addNumber(held, PortFormat::Hex, display);
    }
    undecided_.clear();
}

void PortFormatter::add(const TimedPacket& write, TextDisplay& display) {
    const itm::Packet& packet = write.packet;
    if (packet.kind != itm::PacketKind::Instrumentation || packet.port != port_) {
        return;
    }
    if (format_ == PortFormat::Text) {
        addText(write, display);
        return;
    }
    if (format_ != PortFormat::Auto) {
        addNumber(write, format_, display);
        return;
    }
    const WriteClass kind = classifyWrite(packet, last_);
    if (kind == WriteClass::Unclear) {
        if (last_ == WriteClass::Number) {
            addNumber(write, PortFormat::Hex, display);
        } else if (last_ == WriteClass::Unclear && undecided_.size() < kMaxUndecided) {
            undecided_.push_back(write);  // padding for text, or a zero from a counter
        }
        return;
    }
    last_ = kind;
    if (kind == WriteClass::Number) {
        showHeld(display);
        addNumber(write, PortFormat::Hex, display);
        return;
    }
    undecided_.clear();
    addText(write, display);
}

void PortFormatter::flush(TextDisplay& display) {
    // Zeros and nothing else: a counter that stayed at zero.
    showHeld(display);
    lines_.flush([&](std::string_view line) {
        const LineStamp stamp = waiting_ ? waitingStamp_ : LineStamp{};
        std::string text;
        appendEscaped(line.substr(std::min(shown_, line.size())), text);
        if (shown_ == 0) {
            display.row(label_, stamp, text);
        } else {
            display.finish(static_cast<int>(port_), label_, stamp, text);
        }
    });
    shown_ = 0;
    waiting_ = false;
}

}  // namespace dravik::swv
