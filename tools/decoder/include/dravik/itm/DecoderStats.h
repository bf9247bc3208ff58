// Counters the decoder keeps over the whole stream.
#pragma once

#include <array>
#include <cstdint>

#include "dravik/itm/Packet.h"

namespace dravik::itm {

struct DecoderStats {
    std::array<uint64_t, kPacketKindCount> packets{};  // indexed by PacketKind
    uint64_t bytes = 0;                                // bytes taken from the input
    uint64_t discardedBytes = 0;    // bytes that formed no packet (the decode errors)
    uint64_t malformedPackets = 0;  // headers dropped because their payload did not fit them
    uint64_t truncatedPackets = 0;  // packets cut off by the end of the stream

    uint64_t count(PacketKind kind) const { return packets[static_cast<size_t>(kind)]; }
    uint64_t overflows() const { return count(PacketKind::Overflow); }
    uint64_t syncs() const { return count(PacketKind::Sync); }
    uint64_t totalPackets() const {
        uint64_t total = 0;
        for (uint64_t n : packets) {
            total += n;
        }
        return total;
    }
};

}  // namespace dravik::itm
