#include "dravik/swv/TimedPacketFeed.h"

namespace dravik::swv {

void TimedPacketFeed::deliver() {
    for (const TimedPacket& timed : timed_) {
        sink_(timed);
    }
    timed_.clear();
}

void TimedPacketFeed::data(const uint8_t* bytes, size_t size, std::optional<uint64_t> hostUs) {
    decoder_.feed(bytes, size,
                  [&](const itm::Packet& packet) { timer_.add(packet, hostUs, timed_); });
    deliver();
}

void TimedPacketFeed::cut() {
    decoder_.finish();
    timer_.flush(timed_);
    deliver();
}

}  // namespace dravik::swv
