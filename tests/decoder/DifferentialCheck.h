// The fast decoder against the reference on the same bytes: shared by the decoder tests and the
// differential fuzz target, so it reports with a text rather than with a test framework.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "PacketText.h"
#include "ReferenceDecoder.h"
#include "dravik/itm/Decoder.h"

namespace dravik::itm::test {

struct Feeding {
    std::vector<size_t> pieces;  // piece sizes, used in turn; none: the whole stream at once
    size_t batch = 0;            // 0: feed() with a callback; else decode() into this many slots
};

namespace detail {

inline std::string statsDifference(const DecoderStats& fast, const DecoderStats& reference) {
    std::ostringstream os;
    auto field = [&](const char* name, uint64_t a, uint64_t b) {
        if (a != b) {
            os << " " << name << " " << a << " (reference " << b << ")";
        }
    };
    for (size_t kind = 0; kind < kPacketKindCount; ++kind) {
        field(packetKindName(static_cast<PacketKind>(kind)), fast.packets[kind],
              reference.packets[kind]);
    }
    field("bytes", fast.bytes, reference.bytes);
    field("discarded", fast.discardedBytes, reference.discardedBytes);
    field("malformed", fast.malformedPackets, reference.malformedPackets);
    field("truncated", fast.truncatedPackets, reference.truncatedPackets);
    return os.str();
}

// Feeds one piece, copied to a buffer of exactly its size so that a read past it shows under the
// address sanitizer. Returns the bytes taken.
inline size_t feedPiece(Decoder& decoder, const uint8_t* bytes, size_t size, size_t batch,
                        std::vector<Packet>& out) {
    std::unique_ptr<uint8_t[]> copy(size != 0 ? new uint8_t[size] : nullptr);
    if (size != 0) {
        std::memcpy(copy.get(), bytes, size);
    }
    if (batch == 0) {
        return decoder.feed(copy.get(), size, [&](const Packet& p) { out.push_back(p); });
    }
    std::vector<Packet> slots(batch);
    size_t at = 0;
    for (;;) {
        const BatchResult r = decoder.decode(copy.get() + at, size - at, slots.data(), batch);
        out.insert(out.end(), slots.begin(),
                   slots.begin() + static_cast<std::ptrdiff_t>(r.packets));
        at += r.bytesConsumed;
        // Done when the input is taken and the array was not filled; a call that did nothing
        // would stall.
        if ((at == size && r.packets < batch) || (r.packets == 0 && r.bytesConsumed == 0)) {
            return at;
        }
    }
}

}  // namespace detail

// Empty when the fast decoder, fed `bytes` as `feeding` says, gives the reference's packets,
// stimulus page and stats().bytes after every piece (and, fed through callbacks, the same held
// bytes), and all of its counters after finish(). Otherwise the first difference.
inline std::string differenceFromReference(const uint8_t* bytes, size_t size,
                                           const Feeding& feeding) {
    Decoder fast;
    ReferenceDecoder reference;
    std::vector<Packet> packets;
    size_t checked = 0;  // packets compared so far
    size_t pos = 0;
    size_t zeroPieces = 0;
    for (size_t piece = 0; pos < size || piece == 0; ++piece) {
        size_t n = size - pos;
        if (!feeding.pieces.empty()) {
            n = std::min(n, feeding.pieces[piece % feeding.pieces.size()]);
            // Pieces of 0 bytes only: the rest at once.
            zeroPieces = n == 0 ? zeroPieces + 1 : 0;
            n = zeroPieces > feeding.pieces.size() ? size - pos : n;
        }
        const size_t start = pos;
        auto at = [&] {
            return "piece " + std::to_string(piece) + " (bytes " + std::to_string(start) + ".." +
                   std::to_string(start + n) + "): ";
        };
        const size_t taken = detail::feedPiece(fast, bytes + pos, n, feeding.batch, packets);
        if (taken != n) {
            return at() + "took " + std::to_string(taken) + " bytes";
        }
        for (size_t i = pos; i < pos + n; ++i) {
            reference.push(bytes[i]);
        }
        pos += n;
        const std::vector<Packet>& expected = reference.packets;
        for (; checked < packets.size() && checked < expected.size(); ++checked) {
            if (packets[checked] != expected[checked]) {
                return at() + "packet " + std::to_string(checked) + " is " +
                       packetText(packets[checked]) + ", reference " +
                       packetText(expected[checked]);
            }
        }
        if (packets.size() != expected.size()) {
            return at() + std::to_string(packets.size()) + " packets, reference " +
                   std::to_string(expected.size()) + "; next " +
                   packetText(packets.size() > checked ? packets[checked] : expected[checked]);
        }
        if (fast.stimulusPage() != reference.stimulusPage()) {
            return at() + "page " + std::to_string(fast.stimulusPage()) + ", reference " +
                   std::to_string(reference.stimulusPage());
        }
        if (fast.stats().bytes != pos) {
            return at() + "counted " + std::to_string(fast.stats().bytes) + " bytes";
        }
        if (feeding.batch == 0 && fast.heldBytes() != reference.heldBytes()) {
            return at() + "holds " + std::to_string(fast.heldBytes()) + " bytes, reference " +
                   std::to_string(reference.heldBytes());
        }
    }
    fast.finish();
    reference.finish();
    const std::string stats = detail::statsDifference(fast.stats(), reference.stats());
    if (!stats.empty()) {
        return "after finish:" + stats;
    }
    if (fast.heldBytes() != 0 || fast.stimulusPage() != 0) {
        return "after finish: held bytes or page left";
    }
    return {};
}

}  // namespace dravik::itm::test
