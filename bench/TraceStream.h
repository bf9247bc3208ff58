// A deterministic recording of an SWO trace stream, as a target would send it: console text on
// stimulus port 0, 32-bit values on port 1, local timestamps, DWT exception, PC sample, data trace
// and counter packets, now and then an overflow, and a synchronisation packet at intervals.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dravik/itm/Packet.h"

namespace dravik::bench {

struct TraceStream {
    std::vector<uint8_t> bytes;
    // Packets of each kind in the stream, as a decoder must count them.
    std::array<uint64_t, itm::kPacketKindCount> packets{};

    uint64_t totalPackets() const;
};

// Exactly `size` bytes of whole packets; the same size and seed give the same bytes.
TraceStream MakeTraceStream(size_t size, uint64_t seed = 0x5EED);

// `count` streams of `size` bytes, each from its own seed, one after the other.
TraceStream MakeTraceStreams(size_t count, size_t size, uint64_t seed = 0x5EED);

}  // namespace dravik::bench
