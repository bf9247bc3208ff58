#include "dravik/itm/Decoder.h"

namespace dravik::itm {

BatchResult Decoder::decode(const uint8_t* data, size_t size, Packet* out,
                            size_t capacity) noexcept {
    BatchResult result;
    if (capacity == 0) {
        return result;
    }
    result.bytesConsumed = feed(data, size, [&](const Packet& packet) {
        out[result.packets++] = packet;
        return result.packets < capacity;
    });
    return result;
}

void Decoder::finish() noexcept {
    if (heldLength_ != 0) {
        ++stats_.truncatedPackets;
        stats_.discardedBytes += heldLength_;
        heldLength_ = 0;
    }
    dropHeldZeros();
    zeroRun_ = 0;
    page_ = 0;
}

}  // namespace dravik::itm
