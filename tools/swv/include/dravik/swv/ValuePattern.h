// A printf-style pattern for the writes of a numeric port: "temp=%d", "%08x", "v=%.3f V".
//
// It holds exactly one conversion of a numeric kind (d i u o x X, or f F e E g G a A for a 32-bit
// IEEE float), with flags, a width and a precision of at most kMaxWidth; "%%" is a percent sign.
// No length modifiers: the size of the write decides (d and i sign-extend a byte, halfword or
// word). The pattern is checked once, and what reaches snprintf is a conversion built from a
// closed set of characters, never the text as given.
#pragma once

#include <string>
#include <string_view>

#include "dravik/itm/Packet.h"

namespace dravik::swv {

class ValuePattern {
  public:
    static constexpr size_t kMaxLength = 128;
    static constexpr unsigned kMaxWidth = 64;

    // False with `error` (what is wrong, for a message about the option) when `text` is not a
    // pattern this tool takes.
    static bool parse(std::string_view text, ValuePattern& pattern, std::string& error);
    // "%d" and "%g": the signed and float port formats.
    static ValuePattern signedDecimal();
    static ValuePattern ieeeFloat();

    bool empty() const { return conversion_ == 0; }
    const std::string& text() const { return text_; }
    bool isFloat() const;
    // The write formatted and appended; false (nothing appended) when the write cannot be shown
    // this way: a float conversion takes 4-byte writes only.
    bool format(const itm::Packet& write, std::string& out) const;

  private:
    std::string text_;
    std::string before_;  // literal text, "%%" already made "%"
    std::string after_;
    std::string spec_;  // "%" flags width precision, without the conversion
    char conversion_ = 0;
};

}  // namespace dravik::swv
