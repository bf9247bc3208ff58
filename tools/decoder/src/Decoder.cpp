#include "dravik/itm/Decoder.h"

#include "dravik/itm/detail/HeaderTable.h"

namespace dravik::itm {

Decoder::Step Decoder::rejectHeader() noexcept {
    ++stats_.discardedBytes;
    lastPayloadBytes_ = 0;
    return {1, false};
}

unsigned Decoder::zerosEndingLastPacket() const noexcept {
    unsigned zeros = 0;
    while (zeros < lastPayloadBytes_ &&
           ((lastPayload_ >> (8 * (lastPayloadBytes_ - 1 - zeros))) & 0xFF) == 0) {
        ++zeros;
    }
    return zeros;
}

Decoder::Step Decoder::decodeGeneral(const uint8_t* p, size_t available, Packet& out) noexcept {
    const uint8_t header = p[0];
    const detail::HeaderInfo& info = detail::kHeaderTable[header];
    switch (info.action) {
        case detail::HeaderAction::Zero:
            ++heldZeros_;
            return {1, false};
        case detail::HeaderAction::SyncEnd:
            if (heldZeros_ + zerosEndingLastPacket() >= kSyncZeroBytes) {
                heldZeros_ = 0;
                lastPayloadBytes_ = 0;
                page_ = 0;  // the ITM starts again from page 0 after a sync
                out = Packet{};
                out.kind = PacketKind::Sync;
                return {1, true};
            }
            dropHeldZeros();
            return rejectHeader();
        case detail::HeaderAction::Reject:
            dropHeldZeros();
            return rejectHeader();
        default:
            break;
    }
    if (info.kind == PacketKind::StimulusPage || info.kind == PacketKind::Overflow) {
        // After an overflow the ITM starts again from page 0, and the page packets the target
        // sent may have been among those lost: keeping the old page would put every later
        // port on the wrong page until a sync.
        dropHeldZeros();
        lastPayloadBytes_ = 0;
        const bool page = info.kind == PacketKind::StimulusPage;
        page_ = page ? static_cast<uint8_t>((header >> 4) & 7) : 0;
        out = Packet{};
        out.kind = info.kind;
        out.value = page ? page_ : 0;
        return {1, true};
    }

    // Short input: the payload word is padded with zeros, whose clear bit 7 ends any chained
    // payload early enough for parsePacket to ask for more.
    uint64_t w;
    if (available >= kFastPathBytes) {
        w = detail::loadPayloadWord(p + 1);
    } else {
        uint8_t padded[8] = {};
        std::memcpy(padded, p + 1, available - 1);
        w = detail::loadPayloadWord(padded);
    }
    const unsigned length = parsePacket<true>(p[0], w, available, out);
    if (length == kNeedMore) {
        return {0, false};
    }
    if (length == 0) {
        dropHeldZeros();
        ++stats_.malformedPackets;
        return rejectHeader();
    }
    acceptPacket(w, length - 1);
    return {static_cast<uint8_t>(length), true};
}

namespace {

// Fills a caller's array; asks the decoder to stop when it is full.
struct ArraySink {
    Packet* next;
    Packet* end;
    bool operator()(const Packet& packet) noexcept {
        *next++ = packet;
        return next != end;
    }
};

}  // namespace

BatchResult Decoder::decode(const uint8_t* data, size_t size, Packet* out,
                            size_t capacity) noexcept {
    BatchResult result;
    if (capacity == 0) {
        return result;
    }
    ArraySink sink{out, out + capacity};
    result.bytesConsumed = feed(data, size, sink);
    result.packets = static_cast<size_t>(sink.next - out);
    return result;
}

void Decoder::finish() noexcept {
    if (heldLength_ != 0) {
        ++stats_.truncatedPackets;
        stats_.discardedBytes += heldLength_;
    }
    hold(0, 0);
    dropHeldZeros();
    lastPayloadBytes_ = 0;
    page_ = 0;
}

}  // namespace dravik::itm
