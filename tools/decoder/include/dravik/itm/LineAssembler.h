// Turns the instrumentation writes of one stimulus port back into lines of text.
//
// The target may write its text one, two or four bytes at a time; payload bytes are taken in
// the order they were written (little-endian). '\n' ends a line, '\r' and NUL padding are
// dropped, and a line reaching maxLineLength is handed out as it stands.
//
//     dravik::itm::LineAssembler console(0);
//     decoder.feed(bytes, count, [&](const dravik::itm::Packet& packet) {
//         console.add(packet, [](std::string_view line) { puts(std::string(line).c_str()); });
//     });
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "dravik/itm/Packet.h"

namespace dravik::itm {

class LineAssembler {
  public:
    static constexpr size_t kDefaultMaxLineLength = 1024;

    // port: the full stimulus port number as in Packet::port. maxLineLength 0 counts as 1.
    explicit LineAssembler(unsigned port, size_t maxLineLength = kDefaultMaxLineLength);

    // Takes one packet; anything but an instrumentation packet on this port is ignored.
    // Calls onLine(std::string_view) for each line completed, without its line end; the view is
    // valid during the call only.
    template <typename OnLine>
    void add(const Packet& packet, OnLine&& onLine);

    // Hands out the unfinished line, if there is one.
    template <typename OnLine>
    void flush(OnLine&& onLine);

    std::string_view pendingText() const noexcept { return line_; }
    unsigned port() const noexcept { return port_; }
    void clear() noexcept { line_.clear(); }

  private:
    unsigned port_;
    size_t maxLineLength_;
    std::string line_;
};

template <typename OnLine>
void LineAssembler::add(const Packet& packet, OnLine&& onLine) {
    if (packet.kind != PacketKind::Instrumentation || packet.port != port_) {
        return;
    }
    for (unsigned i = 0; i < packet.size; ++i) {
        const char c = static_cast<char>((packet.value >> (8 * i)) & 0xFF);
        if (c == '\n') {
            onLine(std::string_view(line_));
            line_.clear();
        } else if (c != '\r' && c != '\0') {
            line_.push_back(c);
            if (line_.size() >= maxLineLength_) {
                onLine(std::string_view(line_));
                line_.clear();
            }
        }
    }
}

template <typename OnLine>
void LineAssembler::flush(OnLine&& onLine) {
    if (!line_.empty()) {
        onLine(std::string_view(line_));
        line_.clear();
    }
}

}  // namespace dravik::itm
