// SWO bytes to packets with their target times, for the consumers that want every packet rather
// than the text of the ports: the profile and the exception timeline.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "dravik/itm/Decoder.h"
#include "dravik/swv/PacketRecords.h"

namespace dravik::swv {

class TimedPacketFeed {
  public:
    using Sink = std::function<void(const TimedPacket&)>;

    explicit TimedPacketFeed(Sink sink) : sink_(std::move(sink)) {}

    void data(const uint8_t* bytes, size_t size, std::optional<uint64_t> hostUs);
    // Trace is missing here, or the stream ended: no packet is made of the bytes on both sides,
    // and the packet held for its time goes out with the time known so far.
    void cut();

    const itm::DecoderStats& stats() const { return decoder_.stats(); }

  private:
    void deliver();

    itm::Decoder decoder_;
    PacketTimer timer_;
    std::vector<TimedPacket> timed_;
    Sink sink_;
};

}  // namespace dravik::swv
