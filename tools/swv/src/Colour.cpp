#include "dravik/swv/Colour.h"

#include <array>

#include "dravik/swv/EnumNames.h"

namespace dravik::swv {

const char* colorModeName(ColorMode mode) noexcept {
    switch (mode) {
        case ColorMode::Auto:
            return "auto";
        case ColorMode::Always:
            return "always";
        case ColorMode::Never:
            return "never";
    }
    return "unknown";
}

bool parseColorMode(std::string_view name, ColorMode& mode) noexcept {
    static constexpr ColorMode kModes[] = {ColorMode::Auto, ColorMode::Always, ColorMode::Never};
    return parseByName(name, kModes, colorModeName, mode);
}

bool useColor(ColorMode mode, bool isTerminal, bool noColorSet) noexcept {
    switch (mode) {
        case ColorMode::Always:
            return true;
        case ColorMode::Never:
            return false;
        case ColorMode::Auto:
            break;
    }
    return isTerminal && !noColorSet;
}

const char* portColor(unsigned port) noexcept {
    // Red and yellow are kept for trouble.
    static constexpr std::array<const char*, 6> kPalette = {
        "\033[36m", "\033[32m", "\033[35m", "\033[34m", "\033[96m", "\033[92m",
    };
    return kPalette[port % kPalette.size()];
}

void appendColored(std::string_view text, const char* color, std::string& out) {
    if (color == nullptr) {
        out += text;
        return;
    }
    out += color;
    out += text;
    out += sgr::kReset;
}

std::string colorWarning(const std::string& message) {
    static constexpr std::string_view kWarning = "warning:";
    const size_t at = message.find(kWarning);
    if (at == std::string::npos || message.compare(0, 11, "dravik-swv:") != 0 || at > 12) {
        return message;
    }
    std::string colored = message.substr(0, at);
    appendColored(kWarning, sgr::kYellow, colored);
    return colored + message.substr(at + kWarning.size());
}

}  // namespace dravik::swv
