// A plain ITM/DWT packet decoder, one byte at a time, written to be plainly right rather than
// fast: the oracle the fast decoder is checked against. It shares nothing with the fast one (no
// header tables, no word loads), only the Packet record and the counters it must match.
//
// The unit at the front of `pending_` is decided as soon as its bytes allow: a packet, a byte
// dropped, or a wait for more. A malformed packet drops only its header, and the bytes behind it
// are read again as headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "dravik/itm/DecoderStats.h"
#include "dravik/itm/Packet.h"

namespace dravik::itm::test {

class ReferenceDecoder {
  public:
    std::vector<Packet> packets;  // every packet decoded, in stream order

    void push(uint8_t byte) {
        ++stats_.bytes;
        pending_.push_back(byte);
        while (!pending_.empty() && step()) {
        }
    }
    // End of stream: an unfinished packet is truncated, its bytes and unused zeros discarded.
    void finish() {
        if (!pending_.empty()) {
            ++stats_.truncatedPackets;
            stats_.discardedBytes += pending_.size();
            pending_.clear();
        }
        stats_.discardedBytes += zeroHeaders_;
        zeroHeaders_ = 0;
        zeroRun_ = 0;
        page_ = 0;
    }
    const DecoderStats& stats() const { return stats_; }
    size_t heldBytes() const { return pending_.size(); }
    uint8_t stimulusPage() const { return page_; }

  private:
    using K = PacketKind;

    // Decides the unit at the front; false while it needs more bytes.
    bool step() {
        const uint8_t h = pending_[0];
        Packet p{};
        if (h == 0x00) {  // may be part of a sync
            ++zeroHeaders_;
            return settle(1);
        }
        // A sync is at least 47 zero bits and a one. A byte that is not zero has at most 7
        // zero bits, so it takes five zero bytes before 0x80, wherever they were decoded.
        if (h == 0x80) {
            if (zeroRun_ < 5) {
                return drop(false);
            }
            zeroHeaders_ = 0;  // they belong to the sync
            page_ = 0;
            p.kind = K::Sync;
            return emit(p, 1);
        }
        if (h == 0x70) {
            page_ = 0;  // the page packets before it may be lost; the ITM starts at page 0
            p.kind = K::Overflow;
            return emit(p, 1);
        }
        if ((h & 0x8F) == 0x00) {  // 0x10..0x60: local timestamp 2, the delta in the header
            p.kind = K::LocalTimestamp2;
            p.value = h >> 4;
            return emit(p, 1);
        }
        if ((h & 0x8B) == 0x08) {  // extension without payload: EX[2:0] in bits 6:4
            const bool hardware = (h & 0x04) != 0;
            p.kind = hardware ? K::Extension : K::StimulusPage;
            p.flags = hardware ? PacketFlag::kHardware : 0;
            p.value = (h >> 4) & 7;
            page_ = hardware ? page_ : static_cast<uint8_t>(p.value);
            return emit(p, 1);
        }
        if ((h & 3) != 0) {
            return source(h, p);
        }
        // The rest carry payload bytes continued by bit 7, or are reserved.
        size_t limit = 4;
        if ((h & 0xCF) == 0xC0) {
            p.kind = K::LocalTimestamp1;
            p.relation = static_cast<TimestampRelation>((h >> 4) & 3);
        } else if ((h & 0x8B) == 0x88) {
            p.kind = K::Extension;
            p.flags = (h & 0x04) != 0 ? PacketFlag::kHardware : 0;
        } else if (h == 0x94) {
            p.kind = K::GlobalTimestamp1;
        } else if (h == 0xB4) {
            p.kind = K::GlobalTimestamp2;  // bits 63:26, in 4 bytes up to bit 47
            limit = 6;
        } else {
            return drop(false);
        }
        const size_t n = chainedLength(limit, p.kind == K::Extension);
        if (n == kWait) {
            return false;
        }
        if (n == kMalformed) {
            return drop(true);
        }
        uint64_t bits = 0;
        for (size_t i = 1; i <= n; ++i) {
            bits |= uint64_t{pending_[i] & 0x7Fu} << (7 * (i - 1));
        }
        p.size = static_cast<uint8_t>(n);
        p.value = bits;
        if (p.kind == K::Extension) {  // EX[2:0], then 7 bits a byte, all 8 of the fourth
            p.value = ((h >> 4) & 7) | (bits & 0x1FFFFF) << 3 |
                      (n == 4 ? uint64_t{pending_[4]} << 24 : 0);
        } else if (p.kind == K::GlobalTimestamp1) {  // fourth byte: Wrap, ClkCh, bits 25:21
            p.value = bits & 0x3FFFFFF;
            p.flags = ((bits >> 27) & 1 ? PacketFlag::kWrap : 0) |
                      ((bits >> 26) & 1 ? PacketFlag::kClockChange : 0);
        } else if (p.kind == K::GlobalTimestamp2) {
            p.value = bits << 26;
        }
        return emit(p, 1 + n);
    }

    // Payload bytes continued by bit 7, at most `limit`: their count once the last one is
    // here. With lastIsData the limit-th byte holds 8 data bits and always ends the payload;
    // otherwise its bit 7 must be clear.
    static constexpr size_t kWait = 0;
    static constexpr size_t kMalformed = SIZE_MAX;
    size_t chainedLength(size_t limit, bool lastIsData) const {
        for (size_t i = 1; i < pending_.size(); ++i) {
            if ((pending_[i] & 0x80) == 0 || (lastIsData && i == limit)) {
                return i;
            }
            if (i == limit) {
                return kMalformed;
            }
        }
        return kWait;
    }

    // A header with its payload size in bits 1:0: software (ITM) or hardware (DWT) source.
    bool source(uint8_t h, Packet& p) {
        const unsigned n = (h & 3) == 3 ? 4 : h & 3;
        const unsigned id = h >> 3;
        p.size = static_cast<uint8_t>(n);
        if ((h & 0x04) == 0) {
            p.kind = K::Instrumentation;
            p.port = static_cast<uint8_t>(page_ * 32 + id);
        } else {
            const std::optional<K> kind = hardwareKind(id, n);
            if (!kind) {
                return drop(false);
            }
            p.kind = *kind;
            p.discriminator = static_cast<uint8_t>(id);
            if (id >= 8) {  // data trace: comparator in bits 2:1, bit 0 of a value: write
                p.comparator = static_cast<uint8_t>((id >> 1) & 3);
                p.flags = id >= 16 && (id & 1) != 0 ? PacketFlag::kWrite : 0;
            }
        }
        if (pending_.size() < 1 + n) {
            return false;
        }
        uint32_t v = 0;
        for (unsigned i = n; i > 0; --i) {
            v = v << 8 | pending_[i];
        }
        p.value = v;
        if (p.kind == K::EventCounter && (v & 0xC0) != 0) {
            return drop(true);  // six counters, bits 7:6 reserved
        }
        if (p.kind == K::PeriodicPcSleep && v != 0) {
            return drop(true);
        }
        if (p.kind == K::ExceptionTrace) {
            // Number in bits 8:0, function in 13:12 (0 reserved), the other bits reserved.
            const unsigned fn = (v >> 12) & 3;
            if (fn == 0 || (v & 0xCE00) != 0) {
                return drop(true);
            }
            p.value = v & 0x1FF;
            p.function = static_cast<ExceptionFunction>(fn);
        }
        return emit(p, 1 + n);
    }

    static std::optional<K> hardwareKind(unsigned id, unsigned n) {
        if (id == 0 && n == 1) {
            return K::EventCounter;
        }
        if (id == 1 && n == 2) {
            return K::ExceptionTrace;
        }
        if (id == 2 && (n == 4 || n == 1)) {
            return n == 4 ? K::PeriodicPc : K::PeriodicPcSleep;
        }
        if (id >= 8 && id <= 15) {  // comparator in bits 2:1; PC (4 bytes) or address (2)
            if ((id & 1) == 0) {
                return n == 4 ? std::optional<K>(K::DataTracePc) : std::nullopt;
            }
            return n == 2 ? std::optional<K>(K::DataTraceAddress) : std::nullopt;
        }
        if (id >= 16 && id <= 23) {  // data value, any size; bit 0: write
            return K::DataTraceValue;
        }
        return std::nullopt;  // reserved discriminators
    }

    bool emit(const Packet& p, size_t length) {
        stats_.discardedBytes += zeroHeaders_;
        zeroHeaders_ = 0;
        ++stats_.packets[static_cast<size_t>(p.kind)];
        packets.push_back(p);
        return settle(length);
    }
    // The header formed no packet (malformed: its payload did not fit it).
    bool drop(bool malformed) {
        stats_.discardedBytes += zeroHeaders_ + 1;
        zeroHeaders_ = 0;
        stats_.malformedPackets += malformed ? 1 : 0;
        return settle(1);
    }
    // Takes the decided bytes, counting the zero bytes that end the stream so far.
    bool settle(size_t length) {
        for (size_t i = 0; i < length; ++i) {
            zeroRun_ = pending_[i] == 0 ? zeroRun_ + 1 : 0;
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
        return true;
    }

    DecoderStats stats_;
    std::vector<uint8_t> pending_;  // the undecided unit: a header and its payload so far
    size_t zeroHeaders_ = 0;        // zero bytes read as headers, not yet part of a sync
    size_t zeroRun_ = 0;            // zero bytes at the end of the decided stream
    uint8_t page_ = 0;
};

}  // namespace dravik::itm::test
