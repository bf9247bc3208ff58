#include "dravik/swv/ValuePattern.h"

#include <cstdio>
#include <cstring>

namespace dravik::swv {

namespace {

constexpr std::string_view kIntegerConversions = "diuoxX";
constexpr std::string_view kFloatConversions = "fFeEgGaA";
constexpr std::string_view kFlags = "-+ #0";
constexpr std::string_view kLengthModifiers = "hlLqjzt";

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads digits at text[at] into `value`; false when there are more than fit the bound.
bool readBounded(std::string_view text, size_t& at, unsigned& value) {
    value = 0;
    while (at < text.size() && isDigit(text[at])) {
        value = value * 10 + static_cast<unsigned>(text[at] - '0');
        if (value > ValuePattern::kMaxWidth) {
            return false;
        }
        ++at;
    }
    return true;
}

int64_t signExtended(const itm::Packet& write) {
    switch (write.size) {
        case 1:
            return static_cast<int8_t>(write.value);
        case 2:
            return static_cast<int16_t>(write.value);
        default:
            return static_cast<int32_t>(write.value);
    }
}

}  // namespace

bool ValuePattern::parse(std::string_view text, ValuePattern& pattern, std::string& error) {
    const std::string quoted = "'" + std::string(text) + "'";
    if (text.size() > kMaxLength) {
        error = "a pattern of more than " + std::to_string(kMaxLength) + " characters";
        return false;
    }
    ValuePattern parsed;
    parsed.text_ = text;
    std::string* literal = &parsed.before_;
    for (size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c < 0x20 || c == 0x7F) {
            error = quoted + " holds a control character";
            return false;
        }
        if (c != '%') {
            *literal += text[at++];
            continue;
        }
        if (at + 1 < text.size() && text[at + 1] == '%') {
            *literal += '%';
            at += 2;
            continue;
        }
        if (parsed.conversion_ != 0) {
            error = quoted + " has more than one conversion; one value is shown per write";
            return false;
        }
        std::string spec = "%";
        ++at;
        while (at < text.size() && kFlags.find(text[at]) != std::string_view::npos) {
            spec += text[at++];
        }
        unsigned width = 0;
        const size_t widthAt = at;
        if (!readBounded(text, at, width)) {
            error = quoted + ": a width above " + std::to_string(kMaxWidth);
            return false;
        }
        spec.append(text.substr(widthAt, at - widthAt));
        if (at < text.size() && text[at] == '.') {
            ++at;
            unsigned precision = 0;
            const size_t precisionAt = at;
            if (!readBounded(text, at, precision)) {
                error = quoted + ": a precision above " + std::to_string(kMaxWidth);
                return false;
            }
            spec += '.';
            spec.append(text.substr(precisionAt, at - precisionAt));
        }
        if (at == text.size()) {
            error = quoted + " ends inside a conversion";
            return false;
        }
        const char conversion = text[at++];
        if (conversion == '*') {
            error = quoted + ": '*' is not taken; write the width in the pattern";
            return false;
        }
        if (kLengthModifiers.find(conversion) != std::string_view::npos) {
            error = quoted + ": no length modifiers (h, l, ...); the size of the write decides";
            return false;
        }
        if (conversion == 'n') {
            error = quoted + ": %n is not allowed";
            return false;
        }
        if (kIntegerConversions.find(conversion) == std::string_view::npos &&
            kFloatConversions.find(conversion) == std::string_view::npos) {
            error = quoted + ": %" + std::string(1, conversion) +
                    " is not a number conversion (d i u o x X f e g a)";
            return false;
        }
        parsed.spec_ = spec;
        parsed.conversion_ = conversion;
        literal = &parsed.after_;
    }
    if (parsed.conversion_ == 0) {
        error = quoted + " has no conversion for the value (such as %d, %x or %f)";
        return false;
    }
    pattern = std::move(parsed);
    return true;
}

ValuePattern ValuePattern::signedDecimal() {
    ValuePattern pattern;
    std::string unused;
    parse("%d", pattern, unused);
    return pattern;
}

ValuePattern ValuePattern::ieeeFloat() {
    ValuePattern pattern;
    std::string unused;
    parse("%g", pattern, unused);
    return pattern;
}

bool ValuePattern::isFloat() const {
    return conversion_ != 0 && kFloatConversions.find(conversion_) != std::string_view::npos;
}

bool ValuePattern::format(const itm::Packet& write, std::string& out) const {
    if (empty() || (isFloat() && write.size != 4)) {
        return false;
    }
    // Widths and precisions are bounded, so the longest float (%f of 3.4e38, 39 digits) fits.
    char value[160];
    const std::string spec = spec_ + (isFloat() ? "" : "ll") + conversion_;
    if (isFloat()) {
        const auto bits = static_cast<uint32_t>(write.value);
        float number = 0;
        std::memcpy(&number, &bits, sizeof number);
        std::snprintf(value, sizeof value, spec.c_str(), static_cast<double>(number));
    } else if (conversion_ == 'd' || conversion_ == 'i') {
        std::snprintf(value, sizeof value, spec.c_str(),
                      static_cast<long long>(signExtended(write)));
    } else {
        std::snprintf(value, sizeof value, spec.c_str(),
                      static_cast<unsigned long long>(write.value));
    }
    out += before_;
    out += value;
    out += after_;
    return true;
}

}  // namespace dravik::swv
