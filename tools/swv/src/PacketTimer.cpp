#include "dravik/swv/PacketTimer.h"

namespace dravik::swv {

namespace {

bool isLocalTimestamp(const itm::Packet& packet) {
    return packet.kind == itm::PacketKind::LocalTimestamp1 ||
           packet.kind == itm::PacketKind::LocalTimestamp2;
}

// GTS1 payload bytes carry 7 bits each but the fourth, which holds bits 25:21 and two flags.
constexpr unsigned kGlobalLowBits = 26;

uint64_t lowBitsSent(unsigned payloadBytes) {
    return payloadBytes >= 4 ? kGlobalLowBits : 7u * payloadBytes;
}

}  // namespace

std::optional<double> PacketTimer::secondsNow() const {
    const uint64_t ticks = ticks_.value_or(0);
    const bool local = ticks_ && clocks_.timestampHz > 0;
    if (anchored_ && clocks_.globalHz > 0) {
        const double since =
            local ? static_cast<double>(ticks - ticksAtAnchor_) / clocks_.timestampHz : 0.0;
        return static_cast<double>(anchor_) / clocks_.globalHz + since;
    }
    if (local) {
        return static_cast<double>(ticks) / clocks_.timestampHz;
    }
    return std::nullopt;
}

void PacketTimer::release(TimedPacket& packet, std::vector<TimedPacket>& out) const {
    packet.ticks = ticks_;
    packet.seconds = secondsNow();
    out.push_back(packet);
}

void PacketTimer::takeGlobal(const itm::Packet& packet) {
    if (packet.kind == itm::PacketKind::GlobalTimestamp1) {
        // A short packet leaves the bits above the ones it sends as they were.
        const uint64_t mask = (uint64_t{1} << lowBitsSent(packet.size)) - 1;
        global_ = (global_ & ~mask) | (packet.value & mask);
        if (packet.wrapped()) {
            return;  // the new high bits come with the GTS2 that follows
        }
    } else {
        global_ = (global_ & ((uint64_t{1} << kGlobalLowBits) - 1)) | packet.value;
    }
    anchor_ = global_;
    anchored_ = true;
    ticksAtAnchor_ = ticks_.value_or(0);
}

void PacketTimer::add(const itm::Packet& packet, std::optional<uint64_t> hostUs,
                      std::vector<TimedPacket>& out) {
    if (isLocalTimestamp(packet)) {
        ticks_ = ticks_.value_or(0) + packet.value;
        if (held_) {
            release(*held_, out);
            held_.reset();
        }
        TimedPacket timed;
        timed.packet = packet;
        timed.hostUs = hostUs;
        release(timed, out);
        return;
    }
    if (held_) {
        release(*held_, out);
    }
    if (packet.kind == itm::PacketKind::GlobalTimestamp1 ||
        packet.kind == itm::PacketKind::GlobalTimestamp2) {
        // A global timestamp is the time it was sent: nothing follows to time it.
        held_.reset();
        takeGlobal(packet);
        TimedPacket timed;
        timed.packet = packet;
        timed.hostUs = hostUs;
        release(timed, out);
        return;
    }
    held_ = TimedPacket{packet, std::nullopt, hostUs, std::nullopt};
}

void PacketTimer::flush(std::vector<TimedPacket>& out) {
    if (held_) {
        release(*held_, out);
        held_.reset();
    }
}

}  // namespace dravik::swv
