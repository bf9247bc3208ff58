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
#include "dravik/itm/detail/HeaderTable.h"

namespace dravik::itm {

struct BatchResult {
    size_t packets = 0;        // packets written to the caller's array
    size_t bytesConsumed = 0;  // input bytes taken; feed the rest again later
};

class Decoder {
public:
    static constexpr size_t kMaxPacketBytes = 7;  // a 64-bit global timestamp 2
    static constexpr unsigned kSyncZeroBytes = 5;  // 40 zero bits plus seven in the final 0x80

    // Decodes `size` bytes (data may be null if size is 0), calling sink(const Packet&) for each
    // packet in stream order. A sink returning bool stops the decoding by returning false; the
    // result is then the count of bytes taken, which the caller passes again later. Otherwise the
    // result is `size`. A packet split across calls is kept inside and completed by the next.
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
    struct Step {
        uint8_t consumed;  // 0: the packet needs more bytes than available
        bool packet;       // `out` holds a packet
    };

    Step decodeUnit(const uint8_t* p, size_t available, Packet& out) noexcept;
    Step decodeContinued(const uint8_t* p, size_t available, const detail::HeaderInfo& info,
                         Packet& out) noexcept;
    Step rejectHeader() noexcept;
    void dropHeldZeros() noexcept {
        stats_.discardedBytes += heldZeros_;
        heldZeros_ = 0;
    }

    template <typename Sink>
    bool emit(const Packet& packet, Sink& sink);

    DecoderStats stats_;
    uint64_t heldZeros_ = 0;  // zero bytes at header position that may yet form a sync
    uint8_t zeroRun_ = 0;     // consecutive zero bytes just seen, saturating
    uint8_t page_ = 0;
    uint8_t heldLength_ = 0;
    uint8_t held_[kMaxPacketBytes + 1] = {};
};

inline Decoder::Step Decoder::rejectHeader() noexcept {
    ++stats_.discardedBytes;
    zeroRun_ = 0;
    return {1, false};
}

inline Decoder::Step Decoder::decodeContinued(const uint8_t* p, size_t available,
                                              const detail::HeaderInfo& info,
                                              Packet& out) noexcept {
    const unsigned maxPayload = info.payloadBytes;
    const bool lastByteIsData = info.kind == PacketKind::Extension;
    unsigned length = 0;
    for (unsigned i = 1;; ++i) {
        if (i >= available) {
            return {0, false};
        }
        if ((p[i] & 0x80) == 0 || (lastByteIsData && i == maxPayload)) {
            length = i;
            break;
        }
        if (i == maxPayload) {
            ++stats_.malformedPackets;
            return rejectHeader();
        }
    }
    uint64_t value = 0;
    out = Packet{};
    out.kind = info.kind;
    out.size = static_cast<uint8_t>(length);
    switch (info.kind) {
        case PacketKind::LocalTimestamp1:
            for (unsigned i = 1; i <= length; ++i) {
                value |= static_cast<uint64_t>(p[i] & 0x7F) << (7 * (i - 1));
            }
            out.relation = static_cast<TimestampRelation>((p[0] >> 4) & 3);
            break;
        case PacketKind::GlobalTimestamp1:
            for (unsigned i = 1; i <= length && i < 4; ++i) {
                value |= static_cast<uint64_t>(p[i] & 0x7F) << (7 * (i - 1));
            }
            if (length == 4) {
                value |= static_cast<uint64_t>(p[4] & 0x1F) << 21;
                out.flags = static_cast<uint8_t>(((p[4] & 0x40) != 0 ? PacketFlag::kWrap : 0) |
                                                 ((p[4] & 0x20) != 0 ? PacketFlag::kClockChange : 0));
            }
            break;
        case PacketKind::GlobalTimestamp2:
            for (unsigned i = 1; i <= length; ++i) {
                value |= static_cast<uint64_t>(p[i] & 0x7F) << (7 * (i - 1));
            }
            value <<= 26;
            break;
        default:  // extension with payload
            value = (p[0] >> 4) & 7;
            for (unsigned i = 1; i <= length && i < 4; ++i) {
                value |= static_cast<uint64_t>(p[i] & 0x7F) << (3 + 7 * (i - 1));
            }
            if (length == 4) {
                value |= static_cast<uint64_t>(p[4]) << 24;
            }
            out.flags = info.flags;
            break;
    }
    out.value = value;
    zeroRun_ = p[length] == 0 ? 1 : 0;  // earlier payload bytes have bit 7 set
    return {static_cast<uint8_t>(length + 1), true};
}

inline Decoder::Step Decoder::decodeUnit(const uint8_t* p, size_t available,
                                         Packet& out) noexcept {
    const uint8_t header = p[0];
    const detail::HeaderInfo& info = detail::kHeaderTable[header];
    switch (info.action) {
        case detail::HeaderAction::Source: {
            const unsigned n = info.payloadBytes;
            if (available <= n) {
                return {0, false};
            }
            dropHeldZeros();
            uint32_t value = p[1];
            if (n == 2) {
                value |= static_cast<uint32_t>(p[2]) << 8;
            } else if (n == 4) {
                std::memcpy(&value, p + 1, 4);
                if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) {
                    value = __builtin_bswap32(value);
                }
            }
            out = Packet{};
            out.kind = info.kind;
            out.size = static_cast<uint8_t>(n);
            out.value = value;
            switch (info.kind) {
                case PacketKind::Instrumentation:
                    out.port = static_cast<uint8_t>(page_ * 32u + info.channel);
                    break;
                case PacketKind::EventCounter:
                    if ((value & 0xC0) != 0) {
                        ++stats_.malformedPackets;
                        return rejectHeader();
                    }
                    out.discriminator = info.channel;
                    break;
                case PacketKind::ExceptionTrace: {
                    const uint32_t function = (value >> 12) & 3;
                    if (function == 0 || (value & 0xCE00) != 0) {
                        ++stats_.malformedPackets;
                        return rejectHeader();
                    }
                    out.value = value & 0x1FF;
                    out.function = static_cast<ExceptionFunction>(function);
                    out.discriminator = info.channel;
                    break;
                }
                case PacketKind::PeriodicPcSleep:
                    if (value != 0) {
                        ++stats_.malformedPackets;
                        return rejectHeader();
                    }
                    out.discriminator = info.channel;
                    break;
                default:
                    out.discriminator = info.channel;
                    out.comparator = info.comparator;
                    out.flags = info.flags;
                    break;
            }
            unsigned zeros = 0;
            while (zeros < n && p[n - zeros] == 0) {
                ++zeros;
            }
            zeroRun_ = static_cast<uint8_t>(zeros);
            return {static_cast<uint8_t>(n + 1), true};
        }
        case detail::HeaderAction::Continued:
            dropHeldZeros();
            return decodeContinued(p, available, info, out);
        case detail::HeaderAction::Single:
            dropHeldZeros();
            zeroRun_ = 0;
            out = Packet{};
            out.kind = info.kind;
            out.flags = info.flags;
            if (info.kind != PacketKind::Overflow) {
                out.value = (header >> 4) & 7;
                if (info.kind == PacketKind::StimulusPage) {
                    page_ = static_cast<uint8_t>(out.value);
                }
            }
            return {1, true};
        case detail::HeaderAction::Zero:
            ++heldZeros_;
            if (zeroRun_ < kSyncZeroBytes) {
                ++zeroRun_;
            }
            return {1, false};
        case detail::HeaderAction::SyncEnd:
            if (zeroRun_ >= kSyncZeroBytes) {
                heldZeros_ = 0;
                zeroRun_ = 0;
                page_ = 0;  // the ITM starts again from page 0 after a sync
                out = Packet{};
                out.kind = PacketKind::Sync;
                return {1, true};
            }
            dropHeldZeros();
            return rejectHeader();
        case detail::HeaderAction::Reject:
        default:
            dropHeldZeros();
            return rejectHeader();
    }
}

template <typename Sink>
inline bool Decoder::emit(const Packet& packet, Sink& sink) {
    ++stats_.packets[static_cast<size_t>(packet.kind)];
    if constexpr (std::is_same_v<std::invoke_result_t<Sink&, const Packet&>, bool>) {
        return sink(packet);
    } else {
        sink(packet);
        return true;
    }
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

    // Complete a packet split by the previous call, taking one byte at a time so that bytes
    // a rejected header leaves behind are decoded again from the held copy.
    while (heldLength_ != 0 && go) {
        const Step step = decodeUnit(held_, heldLength_, packet);
        if (step.consumed == 0) {
            if (p == end) {
                break;
            }
            held_[heldLength_++] = *p++;
            continue;
        }
        heldLength_ = static_cast<uint8_t>(heldLength_ - step.consumed);
        std::memmove(held_, held_ + step.consumed, heldLength_);
        if (step.packet) {
            go = emit(packet, sink);
        }
    }

    if (heldLength_ == 0) {
        // Room for the longest packet: no packet can run out of input here.
        while (go && static_cast<size_t>(end - p) > kMaxPacketBytes) {
            const Step step = decodeUnit(p, static_cast<size_t>(end - p), packet);
            p += step.consumed;
            if (step.packet) {
                go = emit(packet, sink);
            }
        }
        while (go && p != end) {
            const size_t available = static_cast<size_t>(end - p);
            const Step step = decodeUnit(p, available, packet);
            if (step.consumed == 0) {
                std::memcpy(held_, p, available);
                heldLength_ = static_cast<uint8_t>(available);
                p = end;
                break;
            }
            p += step.consumed;
            if (step.packet) {
                go = emit(packet, sink);
            }
        }
    }

    const size_t consumed = static_cast<size_t>(p - data);
    stats_.bytes += consumed;
    return consumed;
}

}  // namespace dravik::itm
