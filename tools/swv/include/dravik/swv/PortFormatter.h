// Turns the instrumentation writes of one stimulus port into output lines: text reassembled into
// lines, or one number per write in hex or decimal. `auto` treats a port as text until a write
// holds a byte that text does not (a control character other than tab, CR, LF or NUL padding), and
// from then on shows each write as a hex number, so a console and a binary counter both read well
// without options.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dravik/itm/LineAssembler.h"
#include "dravik/itm/Packet.h"

namespace dravik::swv {

enum class PortFormat : uint8_t { Auto, Text, Hex, Dec };

const char* portFormatName(PortFormat format) noexcept;
// "auto", "text", "hex" or "dec".
bool parsePortFormat(std::string_view name, PortFormat& format) noexcept;

// A line of target text made safe for a terminal: control characters but tab become \xNN.
void appendEscaped(std::string_view text, std::string& out);

class PortFormatter {
  public:
    // port: the full stimulus port number (Packet::port). With `prefix` every line starts with
    // "[port] ".
    PortFormatter(unsigned port, PortFormat format, bool prefix);

    // Takes a packet; anything but an instrumentation packet on this port is ignored. Complete
    // lines, each ending in '\n', are appended to `out`.
    void add(const itm::Packet& packet, std::string& out);
    // Hands out the unfinished text line, if any.
    void flush(std::string& out);

    unsigned port() const { return port_; }
    PortFormat format() const { return format_; }
    // For `auto`: the port has shown a byte that is not text.
    bool showsNumbers() const { return numbers_; }

  private:
    void appendLine(std::string_view text, std::string& out) const;
    void appendNumber(const itm::Packet& packet, bool decimal, std::string& out) const;
    void addText(const itm::Packet& packet, std::string& out);

    unsigned port_;
    PortFormat format_;
    bool prefix_;
    bool numbers_ = false;  // `auto` has switched to hex
    bool sawText_ = false;  // `auto` has seen a write with text in it
    itm::LineAssembler lines_;
    // `auto`: writes of NUL bytes only, held until the port shows what it carries.
    std::vector<itm::Packet> undecided_;
    static constexpr size_t kMaxUndecided = 16;
};

}  // namespace dravik::swv
