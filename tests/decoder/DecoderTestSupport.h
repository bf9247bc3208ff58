// Shared helpers for the decoder tests: readable packets, expected-packet builder, and feeding a
// stream in chosen pieces, each copied to a buffer of exactly its size so that a read past the
// input shows under the address sanitizer.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "PacketText.h"
#include "ReferenceDecoder.h"
#include "dravik/itm/Decoder.h"
#include "dravik/itm/Packet.h"

namespace dravik::itm {

inline void PrintTo(const Packet& p, std::ostream* os) {
    *os << test::packetText(p);
}

}  // namespace dravik::itm

namespace dravik::itm::test {

using Bytes = std::vector<uint8_t>;

// Expect(PacketKind::Instrumentation).size(1).value('A') converts to the packet it describes.
class Expect {
  public:
    explicit Expect(PacketKind kind) { packet_.kind = kind; }
    Expect& size(uint8_t n) {
        packet_.size = n;
        return *this;
    }
    Expect& value(uint64_t v) {
        packet_.value = v;
        return *this;
    }
    Expect& port(uint8_t n) {
        packet_.port = n;
        return *this;
    }
    Expect& discriminator(uint8_t n) {
        packet_.discriminator = n;
        return *this;
    }
    Expect& comparator(uint8_t n) {
        packet_.comparator = n;
        return *this;
    }
    Expect& relation(TimestampRelation r) {
        packet_.relation = r;
        return *this;
    }
    Expect& function(ExceptionFunction f) {
        packet_.function = f;
        return *this;
    }
    Expect& flags(uint8_t f) {
        packet_.flags = f;
        return *this;
    }
    operator Packet() const { return packet_; }

  private:
    Packet packet_{};
};

struct Decoded {
    std::vector<Packet> packets;
    DecoderStats stats;
    size_t heldBeforeFinish = 0;
};

// Feeds bytes in pieces ending at the given cut offsets (ascending, inside the stream), then
// finishes the stream.
inline Decoded decodeWithCuts(const Bytes& bytes, const std::vector<size_t>& cuts) {
    Decoder decoder;
    Decoded result;
    size_t start = 0;
    auto feedPiece = [&](size_t end) {
        const size_t length = end - start;
        std::unique_ptr<uint8_t[]> piece(new uint8_t[length == 0 ? 1 : length]);
        std::copy(bytes.begin() + start, bytes.begin() + end, piece.get());
        const size_t taken = decoder.feed(piece.get(), length,
                                          [&](const Packet& p) { result.packets.push_back(p); });
        EXPECT_EQ(taken, length);
        start = end;
    };
    for (size_t cut : cuts) {
        feedPiece(cut);
    }
    feedPiece(bytes.size());
    result.heldBeforeFinish = decoder.heldBytes();
    decoder.finish();
    result.stats = decoder.stats();
    return result;
}

inline Decoded decodeWhole(const Bytes& bytes) {
    return decodeWithCuts(bytes, {});
}

inline Decoded decodeByteByByte(const Bytes& bytes) {
    std::vector<size_t> cuts;
    for (size_t i = 1; i < bytes.size(); ++i) {
        cuts.push_back(i);
    }
    return decodeWithCuts(bytes, cuts);
}

inline Decoded decodeWithReference(const Bytes& bytes) {
    ReferenceDecoder reference;
    for (uint8_t b : bytes) {
        reference.push(b);
    }
    Decoded result;
    result.heldBeforeFinish = reference.heldBytes();
    reference.finish();
    result.packets = reference.packets;
    result.stats = reference.stats();
    return result;
}

inline std::string hex(const Bytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
        text += ' ';
    }
    return text;
}

// The stream gives the same packets and counters whole, cut in two at every offset, and fed
// one byte at a time; and so it does through the reference decoder.
inline void expectSameForEveryChunking(const Bytes& bytes, const std::vector<Packet>& expected,
                                       uint64_t discarded = 0, uint64_t truncated = 0) {
    SCOPED_TRACE("stream: " + hex(bytes));
    const Decoded reference = decodeWithReference(bytes);
    EXPECT_EQ(reference.packets, expected) << "reference decoder";
    EXPECT_EQ(reference.stats.discardedBytes, discarded) << "reference decoder";
    EXPECT_EQ(reference.stats.truncatedPackets, truncated) << "reference decoder";
    std::vector<std::vector<size_t>> chunkings = {{}};
    for (size_t cut = 1; cut < bytes.size(); ++cut) {
        chunkings.push_back({cut});
    }
    std::vector<size_t> everyByte;
    for (size_t i = 1; i < bytes.size(); ++i) {
        everyByte.push_back(i);
    }
    chunkings.push_back(everyByte);
    for (const auto& cuts : chunkings) {
        SCOPED_TRACE("cuts: " + ::testing::PrintToString(cuts));
        const Decoded decoded = decodeWithCuts(bytes, cuts);
        EXPECT_EQ(decoded.packets, expected);
        EXPECT_EQ(decoded.stats.bytes, bytes.size());
        EXPECT_EQ(decoded.stats.discardedBytes, discarded);
        EXPECT_EQ(decoded.stats.truncatedPackets, truncated);
        EXPECT_EQ(decoded.stats.totalPackets(), expected.size());
    }
}

}  // namespace dravik::itm::test
