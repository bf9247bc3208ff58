#include "dravik/swv/ArgParsing.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace dravik::swv {

const char* txModeName(TxMode mode) noexcept {
    switch (mode) {
        case TxMode::Nrz:
            return "nrz";
        case TxMode::Manchester:
            return "manchester";
        case TxMode::Auto:
            return "auto";
    }
    return "unknown";
}

bool parseTxMode(const std::string& name, TxMode& mode) noexcept {
    for (TxMode m : {TxMode::Nrz, TxMode::Manchester, TxMode::Auto}) {
        if (name == txModeName(m)) {
            mode = m;
            return true;
        }
    }
    return false;
}

bool parseNumber(const std::string& text, uint64_t max, uint64_t& value, std::string& error) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > 20) {
        error = "'" + text + "' is not a number";
        return false;
    }
    uint64_t parsed = 0;
    for (char c : digits) {
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            error = "'" + text + "' is not a number";
            return false;
        }
        const uint64_t base = hex ? 16 : 10;
        if (digit > max || parsed > (max - digit) / base) {
            error = "'" + text + "' is too large (at most " + std::to_string(max) + ")";
            return false;
        }
        parsed = parsed * base + digit;
    }
    value = parsed;
    return true;
}

namespace {

bool splitAtEquals(const std::string& text, std::string& left, std::string& right,
                   std::string& error, const char* shape) {
    const size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == text.size()) {
        error = "'" + text + "' is not of the form " + shape;
        return false;
    }
    left = text.substr(0, equals);
    right = text.substr(equals + 1);
    return true;
}

bool parsePort(const std::string& text, unsigned& port, std::string& error) {
    uint64_t value = 0;
    if (!parseNumber(text, kPortCount - 1, value, error)) {
        error = "stimulus port: " + error;
        return false;
    }
    port = static_cast<unsigned>(value);
    return true;
}

}  // namespace

bool parsePortOption(const std::string& text, PortRoute& route, std::string& error) {
    std::string port, format;
    if (!splitAtEquals(text, port, format, error, "PORT=FORMAT") ||
        !parsePort(port, route.port, error)) {
        return false;
    }
    if (format.find('%') != std::string::npos) {
        route.format = PortFormat::Pattern;
        return ValuePattern::parse(format, route.pattern, error);
    }
    if (!parsePortFormat(format, route.format)) {
        error = "'" + format +
                "' is not a port format (auto, text, hex, dec, signed, float, or a pattern such "
                "as 'temp=%d')";
        return false;
    }
    return true;
}

bool parsePortFileOption(const std::string& text, PortFileOption& option, std::string& error) {
    std::string port;
    return splitAtEquals(text, port, option.path, error, "PORT=PATH") &&
           parsePort(port, option.port, error);
}

bool parseClockList(const std::string& text, std::vector<uint32_t>& clocks, std::string& error) {
    std::vector<uint32_t> parsed;
    size_t from = 0;
    while (true) {
        const size_t comma = text.find(',', from);
        const std::string item =
            text.substr(from, comma == std::string::npos ? comma : comma - from);
        uint64_t hz = 0;
        // DravikSetupDevice takes the clock as int.
        if (!parseNumber(item, INT_MAX, hz, error)) {
            return false;
        }
        if (hz == 0) {
            error = "a clock of 0 Hz";
            return false;
        }
        parsed.push_back(static_cast<uint32_t>(hz));
        if (comma == std::string::npos) {
            break;
        }
        from = comma + 1;
    }
    clocks = std::move(parsed);
    return true;
}

bool parseDuration(const std::string& text, double& seconds, std::string& error) {
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end == text.c_str() || *end != '\0' || errno != 0 ||
        !std::isfinite(value) || value <= 0) {
        error = "'" + text + "' is not a duration in seconds above 0";
        return false;
    }
    seconds = value;
    return true;
}

}  // namespace dravik::swv
