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
#define DRAVIK_ITM_COLD __attribute__((noinline, cold))
#else
#define DRAVIK_ITM_ALWAYS_INLINE inline
#define DRAVIK_ITM_COLD
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
    // The stimulus port page set by the last page extension (0 after a sync, an overflow and
    // finish()).
    uint8_t stimulusPage() const noexcept { return page_; }

  private:
    // A header and an 8-byte load after it.
    static constexpr size_t kFastPathBytes = 9;
    // Input bytes put behind the held ones (at most kMaxPacketBytes - 1): enough to finish
    // any packet that starts among them.
    static constexpr size_t kJoinInputBytes = 8;
    // Room for held bytes and joined input, plus a payload load.
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

    // Where a feed stands after its first packet.
    struct Resumed {
        size_t taken;  // input bytes used
        bool go;       // the sink did not ask to stop
        bool done;     // nothing left for the rest of the call: the result is `taken`
    };

    // Decodes the packet with this header and the payload word w (the 8 bytes after the header,
    // zero past the input). Returns its length, kNeedMore if it is longer than `available`
    // (checked only when kBounded), or 0 if decodeGeneral has to decide: zeros, sync ends,
    // reserved headers, page changes, overflows and payloads that do not fit their header.
    template <bool kBounded>
    unsigned parsePacket(unsigned header, uint64_t w, size_t available, Packet& out) const noexcept;
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
    // feed() past its shortcut for a single byte that only starts or extends a held packet.
    template <typename Sink>
    size_t feedPackets(const uint8_t* data, size_t size, Sink& sink);
    // Decodes the first packet of the input, the held one if there is one, from a word of the
    // held bytes and the first input bytes.
    template <typename Sink>
    Resumed resumeHeld(const uint8_t* data, size_t size, Sink& sink);
    // The rare cases: the held header turned out malformed, so the bytes behind it are decoded
    // again, or a stopping sink left more than one unit held. Joins them with the input in a
    // padded buffer.
    template <typename Sink>
    Resumed rejoinHeld(const uint8_t* data, size_t size, Sink& sink);
    // Decodes the units that start before `limit` in a zero-padded buffer holding `filled`
    // bytes; returns the offset reached. Sets needMore if a packet runs past `filled`.
    template <typename Sink>
    size_t decodePadded(const uint8_t* buffer, size_t filled, size_t limit, Packet& packet,
                        Sink& sink, bool& go, bool& needMore);
    // Decode from p to the end of an input of at least 8 bytes (decodeWide) or of fewer
    // (decodeShort); a packet that the end cuts short is held. Return where decoding stopped.
    template <typename Sink>
    const uint8_t* decodeWide(const uint8_t* p, const uint8_t* end, Packet& packet, Sink& sink);
    template <typename Sink>
    const uint8_t* decodeShort(const uint8_t* p, const uint8_t* end, Packet& packet, Sink& sink);
    // Keeps `count` bytes (the first one lowest, zero above) for the next call, and what the
    // next byte decides (see heldNeed_).
    void hold(uint64_t bytes, size_t count, unsigned need = 0) noexcept {
        held_ = bytes;
        heldLength_ = static_cast<uint8_t>(count);
        heldNeed_ = static_cast<uint8_t>(need);
    }
    // The start of one packet that runs past the input.
    void holdPartial(uint64_t bytes, size_t count) noexcept {
        // Every held payload byte counts off, a chained one having had bit 7 set.
        hold(bytes, count,
             detail::kPayloadWaitTable[static_cast<uint8_t>(bytes)] -
                 (static_cast<unsigned>(count) - 1));
    }

    DecoderStats stats_;
    uint64_t heldZeros_ = 0;        // zero bytes at header position that may yet form a sync
    uint64_t lastPayload_ = 0;      // payload of the packet before them, first byte lowest;
    uint8_t lastPayloadBytes_ = 0;  // its ending zero bytes count towards a sync too
    uint64_t held_ = 0;             // bytes of an unfinished packet, the header lowest
    uint8_t page_ = 0;
    uint8_t heldLength_ = 0;
    // For a held packet start: the payload bytes it still needs (source packets), or
    // detail::kChainedPayload plus the bytes its chained payload may still have. 0 when the
    // held bytes are not one packet's start.
    uint8_t heldNeed_ = 0;
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

template <typename Word>
inline Word loadLittleEndian(const uint8_t* p) noexcept {
    Word w;
    std::memcpy(&w, p, sizeof w);
    if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) {
        w = static_cast<Word>(__builtin_bswap64(w) >> (64 - 8 * sizeof w));
    }
    return w;
}

// The n bytes at p (n < 8), the first one lowest, zero above them; reads nothing else. Two
// overlapping loads rather than a copy, so that no narrow stores stall a wide load.
inline uint64_t loadBytes(const uint8_t* p, size_t n) noexcept {
    if (n >= 4) {
        const uint64_t low = loadLittleEndian<uint32_t>(p);
        const uint64_t high = loadLittleEndian<uint32_t>(p + n - 4);
        return low | high << (8 * (n - 4));
    }
    if (n >= 2) {
        const uint64_t low = loadLittleEndian<uint16_t>(p);
        const uint64_t high = loadLittleEndian<uint16_t>(p + n - 2);
        return low | high << (8 * (n - 2));
    }
    return n != 0 ? p[0] : 0;
}

// The first 8 bytes of the input, or all of it if it is shorter (zero above).
inline uint64_t loadFirstBytes(const uint8_t* p, size_t size) noexcept {
    return size >= 8 ? loadPayloadWord(p) : loadBytes(p, size);
}

}  // namespace detail

template <bool kBounded>
DRAVIK_ITM_ALWAYS_INLINE unsigned Decoder::parsePacket(unsigned header, uint64_t w,
                                                       size_t available,
                                                       Packet& out) const noexcept {
    const detail::FastHeader& f = detail::kFastHeaderTable[header];
    if (__builtin_expect(f.chainLimit == 0, 1)) {
        // Source packets carry 1, 2 or 4 payload bytes, one-byte packets none. Taking the
        // length from the header bits rather than the table keeps the table load off the
        // chain from one header to the next.
        const unsigned sizeCode = header & 3;
        const unsigned n = sizeCode + (sizeCode == 3 ? 1 : 0);
        if (kBounded && __builtin_expect(n >= available, 0)) {
            // A header not covered here does not wait for its payload; with one, the checks
            // below return 0 for it.
            return (f.passMark | f.requireMask) == 0 ? 0 : kNeedMore;
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
    if (kBounded && __builtin_expect(n >= available, 0)) {
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
        const unsigned length = parsePacket<true>(q[0], w, available, packet);
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
DRAVIK_ITM_ALWAYS_INLINE Decoder::Resumed Decoder::resumeHeld(const uint8_t* data, size_t size,
                                                              Sink& sink) {
    // The held bytes and the input after them as one word: at most 7 held bytes and the
    // longest packet is 7, so the word holds the whole packet whenever the input does.
    const unsigned held = heldLength_;
    const uint64_t joined = held_ | detail::loadFirstBytes(data, size) << (8 * held);
    const size_t available = held + (size < 8 - held ? size : 8 - held);
    const uint64_t w = joined >> 8;
    Packet packet{};  // written by parsePacket only when it finds one
    const unsigned length = parsePacket<true>(static_cast<uint8_t>(joined), w, available, packet);
    if (length == kNeedMore) {
        holdPartial(joined, available);  // all of the input
        return {size, true, true};
    }
    if (__builtin_expect(length < held || length == 0, 0)) {
        // A malformed held header, or a packet among the held bytes that a stopping sink left;
        // with nothing held, a header for decodeGeneral.
        return held != 0 ? rejoinHeld(data, size, sink) : Resumed{0, true, false};
    }
    acceptPacket(w, length - 1);
    hold(0, 0);
    return {length - held, emit(packet, sink), false};
}

template <typename Sink>
DRAVIK_ITM_COLD Decoder::Resumed Decoder::rejoinHeld(const uint8_t* data, size_t size, Sink& sink) {
    uint8_t buffer[kPaddedBytes] = {};
    const size_t held = heldLength_;
    for (size_t i = 0; i < held; ++i) {
        buffer[i] = static_cast<uint8_t>(held_ >> (8 * i));
    }
    const size_t taken = size < kJoinInputBytes ? size : kJoinInputBytes;
    std::memcpy(buffer + held, data, taken);
    const size_t filled = held + taken;
    Packet packet;
    bool go = true;
    bool needMore = false;
    const size_t offset = decodePadded(buffer, filled, held, packet, sink, go, needMore);
    if (needMore) {
        // The input ends inside this packet, so the buffer holds all of it.
        holdPartial(detail::loadPayloadWord(buffer + offset) &
                        ((uint64_t{1} << (8 * (filled - offset))) - 1),
                    filled - offset);
        return {size, go, true};
    }
    if (offset < held) {
        // Stopped by the sink before reaching the input.
        hold(held_ >> (8 * offset), held - offset);
        return {0, false, true};
    }
    hold(0, 0);
    return {offset - held, go, false};
}

template <typename Sink>
DRAVIK_ITM_ALWAYS_INLINE const uint8_t* Decoder::decodeWide(const uint8_t* p, const uint8_t* end,
                                                            Packet& packet, Sink& sink) {
    // Payload words of packets in the last 8 bytes come from a copy of them followed by zeros,
    // so one loop runs to the end without reading past it.
    const uint8_t* const copied = end - 8;
    uint8_t copy[16] = {};
    std::memcpy(copy, copied, 8);
    // Loads from the last 8 bytes move to the copy. Both addresses are worked out and one is
    // picked, which compiles to a conditional move; a choice between pointers compiled to a
    // branch that mispredicted once a call.
    const uintptr_t toCopy =
        reinterpret_cast<uintptr_t>(copy) - reinterpret_cast<uintptr_t>(copied);
    bool go = true;
    while (go && p != end) {
        const uintptr_t here = reinterpret_cast<uintptr_t>(p);
        const uintptr_t there = here + toCopy;
        // NOLINTNEXTLINE(performance-no-int-to-ptr): the conditional move above, on purpose.
        const auto* from = reinterpret_cast<const uint8_t*>(p >= copied ? there : here);
        const uint64_t w = detail::loadPayloadWord(from + 1);
        const unsigned length = parsePacket<false>(p[0], w, 0, packet);
        const size_t left = static_cast<size_t>(end - p);
        if (__builtin_expect(length - 1 < left, 1)) {  // decoded, and within the input
            acceptPacket(w, length - 1);
            p += length;
            go = emit(packet, sink);
            continue;
        }
        if (length != 0) {
            holdPartial(p[0] | w << 8, left);  // its payload runs into the zeros
            return end;
        }
        Packet other;  // kept apart so that `packet` can live in registers
        const Step step = decodeGeneral(p, left, other);
        if (step.consumed == 0) {
            holdPartial(p[0] | w << 8, left);
            return end;
        }
        p += step.consumed;
        if (step.packet) {
            go = emit(other, sink);
        }
    }
    return p;
}

template <typename Sink>
DRAVIK_ITM_ALWAYS_INLINE const uint8_t* Decoder::decodeShort(const uint8_t* p, const uint8_t* end,
                                                             Packet& packet, Sink& sink) {
    bool go = true;
    while (go && p != end) {
        const size_t left = static_cast<size_t>(end - p);
        const uint64_t w = detail::loadBytes(p + 1, left - 1);
        const unsigned length = parsePacket<true>(p[0], w, left, packet);
        if (length == kNeedMore) {
            holdPartial(p[0] | w << 8, left);
            return end;
        }
        if (length != 0) {
            acceptPacket(w, length - 1);
            p += length;
            go = emit(packet, sink);
            continue;
        }
        Packet other;  // kept apart so that `packet` can live in registers
        const Step step = decodeGeneral(p, left, other);
        if (step.consumed == 0) {
            holdPartial(p[0] | w << 8, left);
            return end;
        }
        p += step.consumed;
        if (step.packet) {
            go = emit(other, sink);
        }
    }
    return p;
}

template <typename Sink>
DRAVIK_ITM_ALWAYS_INLINE size_t Decoder::feed(const uint8_t* data, size_t size, Sink&& sink) {
    if (size == 1) {
        // A byte that starts a packet or continues the held one without completing it is only
        // kept.
        const unsigned byte = data[0];
        const unsigned held = heldLength_;
        const unsigned need = heldNeed_;
        // After a source payload byte, one fewer; a chained one must have bit 7 set.
        const bool more = (need & ~detail::kChainedPayload) > 1 &&
                          ((byte | ~need) & detail::kChainedPayload) != 0;
        const unsigned next = held == 0 ? detail::kPayloadWaitTable[byte] : more ? need - 1 : 0;
        if (next != 0) {
            hold(held_ | uint64_t{byte} << (8 * held), held + 1, next);
            ++stats_.bytes;
            return 1;
        }
    }
    return feedPackets(data, size, sink);
}

template <typename Sink>
size_t Decoder::feedPackets(const uint8_t* data, size_t size, Sink& sink) {
    if (size == 0) {
        return 0;
    }
    const uint8_t* p = data;
    const uint8_t* const end = data + size;
    bool go = true;

    // The first packet, completing one split by the previous call if there is one.
    const Resumed resumed = resumeHeld(data, size, sink);
    if (resumed.done) {
        stats_.bytes += resumed.taken;
        return resumed.taken;
    }
    p += resumed.taken;
    go = resumed.go;

    Packet packet{};  // written by parsePacket only when it finds one
    if (go && p != end) {
        p = size >= 8 ? decodeWide(p, end, packet, sink) : decodeShort(p, end, packet, sink);
    }

    const size_t consumed = static_cast<size_t>(p - data);
    stats_.bytes += consumed;
    return consumed;
}

}  // namespace dravik::itm
