// Whatever the bytes, how they are cut into pieces must not change what comes out: whole
// buffers run the fast path, short pieces the padded and held paths.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "DecoderTestSupport.h"
#include "TraceFixture.h"

namespace dravik::itm::test {
namespace {

void expectSameStats(const DecoderStats& a, const DecoderStats& b) {
    EXPECT_EQ(a.packets, b.packets);
    EXPECT_EQ(a.bytes, b.bytes);
    EXPECT_EQ(a.discardedBytes, b.discardedBytes);
    EXPECT_EQ(a.malformedPackets, b.malformedPackets);
    EXPECT_EQ(a.truncatedPackets, b.truncatedPackets);
}

std::vector<size_t> randomCuts(std::mt19937& rng, size_t length, unsigned maxPiece) {
    std::vector<size_t> cuts;
    for (size_t at = 1 + rng() % maxPiece; at < length; at += 1 + rng() % maxPiece) {
        cuts.push_back(at);
    }
    return cuts;
}

TEST(DecoderChunkingTest, NoisyStreamsDecodeTheSameInAnyPieces) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(::testing::Message() << "round " << round);
        const Bytes bytes = noisyStream(rng, 600);
        const Decoded whole = decodeWhole(bytes);
        EXPECT_EQ(whole.stats.bytes, bytes.size());
        EXPECT_GT(whole.stats.discardedBytes, 0u);
        EXPECT_GT(whole.stats.syncs(), 0u);
        for (unsigned maxPiece : {1u, 3u, 9u, 17u, 64u}) {
            SCOPED_TRACE(::testing::Message() << "pieces up to " << maxPiece);
            const Decoded cut = decodeWithCuts(bytes, randomCuts(rng, bytes.size(), maxPiece));
            EXPECT_EQ(cut.packets, whole.packets);
            expectSameStats(cut.stats, whole.stats);
            EXPECT_EQ(cut.heldBeforeFinish, whole.heldBeforeFinish);
        }
    }
}

std::vector<size_t> everyNth(size_t length, size_t piece) {
    std::vector<size_t> cuts;
    for (size_t at = piece; at < length; at += piece) {
        cuts.push_back(at);
    }
    return cuts;
}

// Pieces of one size throughout, so that packets start at every distance from a piece's end:
// pieces under 8 bytes and the last 8 bytes of longer ones take other loads than the rest.
TEST(DecoderChunkingTest, PiecesOfEveryFixedSizeDecodeTheSame) {
    std::mt19937 rng(4099);
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(::testing::Message() << "round " << round);
        const Bytes bytes = noisyStream(rng, 400);
        const Decoded whole = decodeWhole(bytes);
        for (size_t piece = 1; piece <= 24; ++piece) {
            SCOPED_TRACE(::testing::Message() << "pieces of " << piece);
            const Decoded cut = decodeWithCuts(bytes, everyNth(bytes.size(), piece));
            EXPECT_EQ(cut.packets, whole.packets);
            expectSameStats(cut.stats, whole.stats);
            EXPECT_EQ(cut.heldBeforeFinish, whole.heldBeforeFinish);
        }
    }
}

TEST(DecoderChunkingTest, UniformRandomBytesDecodeTheSameInAnyPieces) {
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        Bytes bytes(500);
        for (uint8_t& b : bytes) {
            b = static_cast<uint8_t>(rng());
        }
        const Decoded whole = decodeWhole(bytes);
        const Decoded single = decodeByteByByte(bytes);
        EXPECT_EQ(single.packets, whole.packets);
        expectSameStats(single.stats, whole.stats);
        // Every byte is either in a packet or counted as discarded.
        EXPECT_EQ(whole.stats.bytes, bytes.size());
    }
}

}  // namespace
}  // namespace dravik::itm::test
