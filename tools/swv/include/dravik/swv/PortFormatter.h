// Turns the instrumentation writes of one stimulus port into rows of text output: text
// reassembled into lines, or one row per write as a number (hex, unsigned or signed decimal, a
// 32-bit float, or a printf-style pattern).
//
// `auto` decides write by write: a write that holds a byte text does not (a control character
// other than tab, CR, LF or NUL padding) is shown in hex on a row of its own, and text goes on
// with the next text write, so a console and a binary counter both read well without options. A
// write of NULs only may be padding or a zero: it follows the port's last write that was clear,
// and is held until one is.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dravik/itm/LineAssembler.h"
#include "dravik/itm/Packet.h"
#include "dravik/swv/PacketTimer.h"
#include "dravik/swv/TextDisplay.h"
#include "dravik/swv/ValuePattern.h"

namespace dravik::swv {

enum class PortFormat : uint8_t { Auto, Text, Hex, Dec, Signed, Float, Pattern };

const char* portFormatName(PortFormat format) noexcept;
// "auto", "text", "hex", "dec", "signed" or "float" (a pattern has no name).
bool parsePortFormat(std::string_view name, PortFormat& format) noexcept;

// A line of target text made safe for a terminal: control characters but tab become \xNN.
void appendEscaped(std::string_view text, std::string& out);

// What one write looks like to `auto`.
enum class WriteClass : uint8_t { Unclear, Text, Number };
// `previous`: the class of the port's last clear write. NULs only are unclear; NULs among text
// bytes are padding of text, unless the port's last clear write was a number (a small value in
// a word).
WriteClass classifyWrite(const itm::Packet& write, WriteClass previous) noexcept;
// The characters a write carries: its payload bytes in order, NUL padding left out.
std::string writeCharacters(const itm::Packet& write);

class PortFormatter {
  public:
    // port: the full stimulus port number (Packet::port). With `prefix` every row starts with
    // "[port]". `pattern` is used with PortFormat::Pattern.
    PortFormatter(unsigned port, PortFormat format, bool prefix, ValuePattern pattern = {});

    // Takes a write; anything but an instrumentation packet on this port is ignored.
    void add(const TimedPacket& write, TextDisplay& display);
    // Text of the unfinished line not shown yet: whether there is some, and the host time of
    // the write that brought its first character.
    bool waiting() const { return waiting_; }
    uint64_t waitingSinceUs() const { return waitingSinceUs_; }
    // Shows that text; the line stays unfinished.
    void showWaiting(TextDisplay& display);
    // The end of the stream or of a segment: the unfinished line is ended, held writes shown.
    void flush(TextDisplay& display);

    unsigned port() const { return port_; }
    PortFormat format() const { return format_; }

  private:
    void addText(const TimedPacket& write, TextDisplay& display);
    void addNumber(const TimedPacket& write, PortFormat shownAs, TextDisplay& display);
    void showHeld(TextDisplay& display);

    unsigned port_;
    PortFormat format_;
    RowLabel label_;
    ValuePattern pattern_;
    itm::LineAssembler lines_;
    size_t shown_ = 0;  // characters of the unfinished line already shown
    bool waiting_ = false;
    LineStamp waitingStamp_;
    uint64_t waitingSinceUs_ = 0;
    WriteClass last_ = WriteClass::Unclear;
    // `auto`: writes of NUL bytes only, held until the port shows what it carries.
    std::vector<TimedPacket> undecided_;
    static constexpr size_t kMaxUndecided = 16;
    std::string scratch_;  // a row's text, kept for its capacity
};

}  // namespace dravik::swv
