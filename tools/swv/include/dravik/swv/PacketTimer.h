// Target time for decoded packets, from the ITM's timestamps.
//
// Local timestamps count the timestamp clock (the trace clock over TSPrescale) since the previous
// local timestamp. A local timestamp times the packet right before it; a packet that no
// timestamp follows happened when the last timestamp did (the ITM sends none when no tick has
// passed). So each packet is held until the next one shows which case it is.
//
// Global timestamps carry the value of a free-running counter: GTS1 its low 26 bits, of which a
// short packet sends only the low bytes that changed, GTS2 bits 63:26. The counter is taken to
// run at the trace clock, as it does on the cores whose global timestamp counter is clocked from
// the processor clock. Each complete global timestamp re-anchors the target time; the local
// timestamps that follow count on from it. A GTS1 that says the high bits changed (its wrap
// flag) completes only with the GTS2 after it. Before any global timestamp the target time is the
// sum of the local timestamps.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "dravik/itm/Packet.h"

namespace dravik::swv {

struct TimedPacket {
    itm::Packet packet{};
    std::optional<uint64_t> ticks;   // timestamp clock ticks since the first local timestamp's base
    std::optional<uint64_t> hostUs;  // host time the bytes were read
    std::optional<double> seconds;   // target time, when a clock makes seconds of the timestamps
};

struct TargetClocks {
    double timestampHz = 0;  // local timestamps; 0 when not known
    double globalHz = 0;     // global timestamps; 0 when not known
};

class PacketTimer {
  public:
    PacketTimer() = default;
    explicit PacketTimer(const TargetClocks& clocks) : clocks_(clocks) {}

    void add(const itm::Packet& packet, std::optional<uint64_t> hostUs,
             std::vector<TimedPacket>& out);
    // End of stream (or a gap, or a pause long enough that no timestamp is coming for it): the
    // held packet goes out with the time known so far.
    void flush(std::vector<TimedPacket>& out);
    // The host time of the packet held back, if one is.
    std::optional<uint64_t> heldSinceUs() const {
        return held_ ? held_->hostUs.value_or(0) : std::optional<uint64_t>();
    }

  private:
    void release(TimedPacket& packet, std::vector<TimedPacket>& out) const;
    std::optional<double> secondsNow() const;
    void takeGlobal(const itm::Packet& packet);

    TargetClocks clocks_;
    std::optional<TimedPacket> held_;
    std::optional<uint64_t> ticks_;
    // The global counter as far as sent; the value and the local ticks when it was last complete.
    uint64_t global_ = 0;
    uint64_t anchor_ = 0;
    bool anchored_ = false;
    uint64_t ticksAtAnchor_ = 0;
};

}  // namespace dravik::swv
