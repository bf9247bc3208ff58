// Streaming ITM/DWT packet decoder for the byte stream of a TPIU in SWO mode (formatter off).
//
// A pure byte pump: it takes bytes in any chunking and hands out packets and counters; it does
// no I/O and never allocates. Bytes that form no packet are dropped one at a time, so decoding
// resumes at the next plausible header without waiting for a synchronisation packet.
//
//     dravik::itm::Decoder decoder;
//     decoder.feed(bytes, count, [&](const dravik::itm::Packet& packet) { ... });
//     ...
//     decoder.finish();  // end of stream: a packet cut short is counted as truncated
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "dravik/itm/DecoderStats.h"
#include "dravik/itm/Packet.h"
#include "dravik/itm/detail/FastHeaderTable.h"

#if defined(__GNUC__)
#define DRAVIK_ITM_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define DRAVIK_ITM_ALWAYS_INLINE inline
#endif

namespace dravik::itm {

struct BatchResult {
    size_t packets = 0;        // packets written to the caller's array
    size_t bytesConsumed = 0;  // input bytes taken; feed the rest again later
};

class Decoder {
  public:
    static constexpr size_t kMaxPacketBytes = 7;   // a 64-bit global timestamp 2
    static constexpr unsigned kSyncZeroBytes = 5;  // 40 zero bits plus seven in the final 0x80

    // Decodes `size` bytes (data may be null if size is 0), calling sink(const Packet&) for each
    // packet in stream order. A sink returning bool stops the decoding by returning false; the
    // result is then the count of bytes taken, which the caller passes again later. Otherwise the
    // result is `size`. A packet split across calls is kept inside and completed by the next.
    // The decoder itself never throws; after an exception from the sink, reset() it.
    template <typename Sink>
    size_t feed(const uint8_t* data, size_t size, Sink&& sink);

    // Decodes into out[0..capacity) and stops when it is full.
    BatchResult decode(const uint8_t* data, size_t size, Packet* out, size_t capacity) noexcept;

    // Ends the stream: a partial packet held inside counts as truncated and its bytes and any
    // held zero bytes as discarded. The decoder is then ready for a new stream; stats are kept.
    void finish() noexcept;

    // Forgets the stream and the statistics.
    void reset() noexcept { *this = Decoder(); }

    const DecoderStats& stats() const noexcept { return stats_; }
    // Bytes of an unfinished packet held since the last feed.
    size_t heldBytes() const noexcept { return heldLength_; }
    // The stimulus port page set by the last page extension (0 after a sync).
    uint8_t stimulusPage() const noexcept { return page_; }

  private:
    // A header and an 8-byte load after it.
    static constexpr size_t kFastPathBytes = 9;
    // Input bytes put behind the held ones (at most kMaxPacketBytes - 1): enough to finish
    // any packet that starts among them.
    static constexpr size_t kJoinInputBytes = 8;
    // Room for held bytes and joined input, or for a short tail, plus a payload load.
    static constexpr size_t kPaddedBytes = 24;
    static constexpr unsigned kNeedMore = 0xFF;
    static constexpr size_t kSizeOffset = offsetof(Packet, size);
    static constexpr size_t kPortOffset = offsetof(Packet, port);
    static constexpr size_t kFunctionOffset = offsetof(Packet, function);
    static constexpr size_t kFlagsOffset = offsetof(Packet, flags);

    struct Step {
        uint8_t consumed;  // 0: the packet needs more bytes than available
        bool packet;       // `out` holds a packet
    };

    // Decodes the packet at p from its header and the payload word w (the 8 bytes after the
    // header, zero past the input). Returns its length, kNeedMore if it is longer than
    // `available` (checked only when kBounded), or 0 if decodeGeneral has to decide: zeros,
    // sync ends, reserved headers, page changes and payloads that do not fit their header.
    template <bool kBounded>
    unsigned parsePacket(const uint8_t* p, uint64_t w, size_t available,
                         Packet& out) const noexcept;
    // Any header, any amount of input.
    Step decodeGeneral(const uint8_t* p, size_t available, Packet& out) noexcept;
    Step rejectHeader() noexcept;
    void acceptPacket(uint64_t w, unsigned payloadBytes) noexcept {
        if (__builtin_expect(heldZeros_ != 0, 0)) {
            dropHeldZeros();
        }
        lastPayload_ = w;
        lastPayloadBytes_ = static_cast<uint8_t>(payloadBytes);
    }
    // Zero bytes ending the last packet's payload.
    unsigned zerosEndingLastPacket() const noexcept;
    void dropHeldZeros() noexcept {
        stats_.discardedBytes += heldZeros_;
        heldZeros_ = 0;
    }

    template <typename Sink>
    bool emit(const Packet& packet, Sink& sink);
    // Decodes the units that start before `limit` in a zero-padded buffer holding `filled`
    // bytes; returns the offset reached. Sets needMore if a packet runs past `filled`.
    template <typename Sink>
    size_t decodePadded(const uint8_t* buffer, size_t filled, size_t limit, Packet& packet,
                        Sink& sink, bool& go, bool& needMore);

    DecoderStats stats_;
    uint64_t heldZeros_ = 0;        // zero bytes at header position that may yet form a sync
    uint64_t lastPayload_ = 0;      // payload of the packet before them, first byte lowest;
    uint8_t lastPayloadBytes_ = 0;  // its ending zero bytes count towards a sync too
    uint8_t page_ = 0;
    uint8_t heldLength_ = 0;
    uint8_t held_[kMaxPacketBytes + 1] = {};
};

namespace detail {

// The hot path handles a packet as two words: the value and the eight bytes after it, so that
// it is built in registers and written with two stores.
constexpr unsigned metaShift(size_t offset) {
    return __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? 8 * (offset - 8) : 8 * (15 - offset);
}

inline uint64_t loadMeta(const Packet& packet) noexcept {
    uint64_t meta;
    std::memcpy(&meta, reinterpret_cast<const unsigned char*>(&packet) + 8, 8);
    return meta;
}

inline void storePacket(Packet& packet, uint64_t value, uint64_t meta) noexcept {
    packet.value = value;
    std::memcpy(reinterpret_cast<unsigned char*>(&packet) + 8, &meta, 8);
}

// Eight bytes, the first one lowest.
inline uint64_t loadPayloadWord(const uint8_t* p) noexcept {
    uint64_t w;
    std::memcpy(&w, p, 8);
    if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) {
        w = __builtin_bswap64(w);
    }
    return w;
}

}  // namespace detail

template <bool kBounded>
DRAVIK_ITM_ALWAYS_INLINE unsigned Decoder::parsePacket(const uint8_t* p, uint64_t w,
                                                       size_t available,
                                                       Packet& out) const noexcept {
    const unsigned header = p[0];
    const detail::FastHeader& f = detail::kFastHeaderTable[header];
    if (__builtin_expect(f.chainLimit == 0, 1)) {
        // Source packets carry 1, 2 or 4 payload bytes, one-byte packets none. Taking the
        // length from the header bits rather than the table keeps the table load off the
        // chain from one header to the next.
        const unsigned sizeCode = header & 3;
        const unsigned n = sizeCode + (sizeCode == 3 ? 1 : 0);
        if (kBounded) {
            if ((f.passMark | f.requireMask) == 0) {
                return 0;  // not covered here: no need to wait for a payload
            }
            if (n >= available) {
                return kNeedMore;
            }
        }
        const uint32_t raw = static_cast<uint32_t>(w) & f.payloadMask;
        const uint32_t required = (raw & f.requireMask) | f.passMark;
        if (__builtin_expect(((raw & f.rejectMask) != 0) | (required == 0), 0)) {
            return 0;
        }
        const uint64_t port = (page_ << 5) & f.pageMask;  // no carry: ports end at 255
        const uint64_t function = (raw >> 12) & f.functionMask;
        detail::storePacket(out, (raw & f.valueMask) | f.base.value,
                            detail::loadMeta(f.base) + (port << detail::metaShift(kPortOffset)) +
                                (function << detail::metaShift(kFunctionOffset)));
        return n + 1;
    }

    // Payload bytes chained by bit 7: the first byte with it clear is the last. A stop forced
    // just past the limit marks a payload that does not end in time, except in an extension,
    // whose last allowed byte carries eight bits and always ends it.
    const PacketKind kind = f.base.kind;
    const unsigned limit = f.chainLimit;
    const bool lastByteIsData = kind == PacketKind::Extension;
    const uint64_t forced = 0x80ull << (8 * (lastByteIsData ? limit - 1 : limit));
    const uint64_t stops = (~w & 0x0000808080808080ull) | forced;
    const unsigned lastIndex = static_cast<unsigned>(__builtin_ctzll(stops)) >> 3;
    const unsigned n = lastIndex + 1;
    if (lastIndex == limit) {
        return 0;  // with short input a padding zero stops it earlier
    }
    if (kBounded && n >= available) {
        return kNeedMore;
    }
    const uint64_t groups = (w & 0x7F) | ((w >> 1) & 0x3F80) | ((w >> 2) & 0x1FC000) |
                            ((w >> 3) & 0xFE00000) | ((w >> 4) & 0x7F0000000ull) |
                            ((w >> 5) & 0x3F800000000ull);
    // The kinds differ only in where the bits go; selects rather than branches keep a mix of
    // timestamps from defeating the branch predictor.
    const uint64_t bits = groups & ((1ull << (7 * n)) - 1);
    const bool gts1 = kind == PacketKind::GlobalTimestamp1;
    const bool gts2 = kind == PacketKind::GlobalTimestamp2;
    // Global timestamp 1: a full packet's fourth byte holds Wrap, ClkCh and bits 25:21.
    const uint64_t clockFlags = ((bits >> 27) & 1 ? PacketFlag::kWrap : 0) |
                                ((bits >> 26) & 1 ? PacketFlag::kClockChange : 0);
    // Extension: EX[2:0] from the header, then 7 bits a byte and a whole fourth byte.
    const uint64_t extension =
        ((header >> 4) & 7) | (bits & 0x1FFFFF) << 3 | (n == limit ? ((w >> 24) & 0xFF) << 24 : 0);
    uint64_t value = gts1 ? bits & 0x3FFFFFF : bits;
    value = gts2 ? bits << 26 : value;
    value = lastByteIsData ? extension : value;
    const uint64_t meta = detail::loadMeta(f.base) +
                          (uint64_t{n} << detail::metaShift(kSizeOffset)) +
                          ((gts1 ? clockFlags : 0) << detail::metaShift(kFlagsOffset));
    detail::storePacket(out, value, meta);
    return n + 1;
}

template <typename Sink>
DRAVIK_ITM_ALWAYS_INLINE bool Decoder::emit(const Packet& packet, Sink& sink) {
    ++stats_.packets[static_cast<size_t>(packet.kind)];
    if constexpr (std::is_same_v<std::invoke_result_t<Sink&, const Packet&>, bool>) {
        return sink(packet);
    } else {
        sink(packet);
        return true;
    }
}

template <typename Sink>
DRAVIK_ITM_ALWAYS_INLINE size_t Decoder::decodePadded(const uint8_t* buffer, size_t filled,
                                                      size_t limit, Packet& packet, Sink& sink,
                                                      bool& go, bool& needMore) {
    size_t offset = 0;
    while (go && offset < limit) {
        const uint8_t* const q = buffer + offset;
        const size_t available = filled - offset;
        const uint64_t w = detail::loadPayloadWord(q + 1);
        const unsigned length = parsePacket<true>(q, w, available, packet);
        if (length == kNeedMore) {
            needMore = true;
            break;
        }
        if (length != 0) {
            acceptPacket(w, length - 1);
            offset += length;
            go = emit(packet, sink);
            continue;
        }
        Packet other;  // kept apart so that `packet` can live in registers
        const Step step = decodeGeneral(q, available, other);
        if (step.consumed == 0) {
            needMore = true;
            break;
        }
        offset += step.consumed;
        if (step.packet) {
            go = emit(other, sink);
        }
    }
    return offset;
}

template <typename Sink>
size_t Decoder::feed(const uint8_t* data, size_t size, Sink&& sink) {
    if (size == 0) {
        return 0;
    }
    const uint8_t* p = data;
    const uint8_t* const end = data + size;
    Packet packet;
    bool go = true;
    bool needMore = false;

    // Complete a packet split by the previous call from the held bytes followed by the first
    // input bytes; bytes a rejected header leaves behind are decoded again there.
    if (heldLength_ != 0) {
        uint8_t buffer[kPaddedBytes] = {};
        const size_t held = heldLength_;
        std::memcpy(buffer, held_, held);
        const size_t taken = size < kJoinInputBytes ? size : kJoinInputBytes;
        std::memcpy(buffer + held, data, taken);
        const size_t filled = held + taken;
        const size_t offset = decodePadded(buffer, filled, held, packet, sink, go, needMore);
        if (needMore) {
            // The input ends inside this packet, so the buffer holds all of it.
            heldLength_ = static_cast<uint8_t>(filled - offset);
            std::memcpy(held_, buffer + offset, heldLength_);
            stats_.bytes += size;
            return size;
        }
        if (offset < held) {
            // Stopped by the sink before reaching the input.
            heldLength_ = static_cast<uint8_t>(held - offset);
            std::memmove(held_, held_ + offset, heldLength_);
            return 0;
        }
        heldLength_ = 0;
        p += offset - held;
    }

    // Room for the longest packet and the payload load: no packet runs out of input.
    while (go && static_cast<size_t>(end - p) >= kFastPathBytes) {
        const uint64_t w = detail::loadPayloadWord(p + 1);
        const unsigned length = parsePacket<false>(p, w, 0, packet);
        if (__builtin_expect(length != 0, 1)) {
            acceptPacket(w, length - 1);
            p += length;
            go = emit(packet, sink);
            continue;
        }
        Packet other;  // kept apart so that `packet` can live in registers
        const Step step = decodeGeneral(p, static_cast<size_t>(end - p), other);
        p += step.consumed;
        if (step.packet) {
            go = emit(other, sink);
        }
    }

    // The last few bytes, from a zero-padded copy; a packet they cut short is held.
    if (go && p != end) {
        uint8_t buffer[kPaddedBytes] = {};
        const size_t left = static_cast<size_t>(end - p);
        std::memcpy(buffer, p, left);
        const size_t offset = decodePadded(buffer, left, left, packet, sink, go, needMore);
        if (needMore) {
            heldLength_ = static_cast<uint8_t>(left - offset);
            std::memcpy(held_, buffer + offset, heldLength_);
            p = end;
        } else {
            p += offset;
        }
    }

    const size_t consumed = static_cast<size_t>(p - data);
    stats_.bytes += consumed;
    return consumed;
}

}  // namespace dravik::itm
