// Colour on a terminal: each port's prefix in a colour of its own, so that interleaved ports can
// be told apart at a glance, and what reports trouble (gaps, overflows, warnings) in red or
// yellow. Only the prefixes and labels are coloured; the target's text is left as it came.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dravik::swv {

enum class ColorMode : uint8_t { Auto, Always, Never };

const char* colorModeName(ColorMode mode) noexcept;
// "auto", "always" or "never".
bool parseColorMode(std::string_view name, ColorMode& mode) noexcept;

// `always` and `never` as said; `auto` colours a terminal, unless NO_COLOR is set to anything
// but the empty string (noColorSet).
bool useColor(ColorMode mode, bool isTerminal, bool noColorSet) noexcept;

namespace sgr {
inline constexpr const char* kReset = "\033[0m";
inline constexpr const char* kDim = "\033[2m";
inline constexpr const char* kRed = "\033[1;31m";
inline constexpr const char* kYellow = "\033[1;33m";
inline constexpr const char* kMagenta = "\033[35m";
inline constexpr const char* kBlue = "\033[34m";
}  // namespace sgr

// The colour of port N's prefix; neighbouring ports differ.
const char* portColor(unsigned port) noexcept;

// `text` in `color`, reset after it; as it is when `color` is null.
void appendColored(std::string_view text, const char* color, std::string& out);

// A message for stderr with its "warning:" in yellow (the first one, after the tool's name).
std::string colorWarning(const std::string& message);

}  // namespace dravik::swv
