// The fast decoder against the plain reference decoder on seeded random streams, each cut into
// random pieces: what the differential fuzz target checks, in a bounded and repeatable form.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "DecoderTestSupport.h"
#include "DifferentialCheck.h"
#include "TraceFixture.h"

namespace dravik::itm::test {
namespace {

// Bytes that start or continue packets, end payloads and make syncs, so that random streams
// meet the decoder's edge cases far more often than uniform bytes do.
const uint8_t kTelling[] = {
    0x00, 0x80, 0x70, 0x01, 0x02, 0x03, 0x05, 0x0E, 0x15, 0x17, 0x47, 0x4E, 0x85,
    0x86, 0x87, 0x08, 0x28, 0x78, 0x0C, 0x88, 0x9C, 0xC0, 0xF0, 0x10, 0x60, 0x94,
    0xB4, 0x90, 0x04, 0xFF, 0x7F, 0x81, 0x40, 0x10, 0x20, 0x30, 0xC4, 0x1D,
};

enum class Flavour { Uniform, Noisy, Telling };

Bytes randomStream(std::mt19937& rng, Flavour flavour, size_t length) {
    if (flavour == Flavour::Noisy) {
        return noisyStream(rng, length);
    }
    Bytes bytes(length);
    for (uint8_t& b : bytes) {
        b = flavour == Flavour::Uniform ? static_cast<uint8_t>(rng())
                                        : kTelling[rng() % sizeof kTelling];
    }
    return bytes;
}

Feeding randomFeeding(std::mt19937& rng) {
    static const size_t kMaxPiece[] = {1, 2, 3, 7, 8, 9, 16, 17, 64, 4096};
    Feeding feeding;
    const size_t maxPiece = kMaxPiece[rng() % std::size(kMaxPiece)];
    feeding.pieces.resize(1 + rng() % 8);
    for (size_t& piece : feeding.pieces) {
        piece = rng() % (maxPiece + 1);  // 0 too: an empty feed
    }
    feeding.batch = rng() % 3 == 0 ? 1 + rng() % 5 : 0;
    return feeding;
}

TEST(DecoderReferenceTest, FastDecoderAgreesOnRandomStreamsInRandomPieces) {
    std::mt19937 rng(0xD1FF);
    for (int round = 0; round < 300; ++round) {
        const auto flavour = static_cast<Flavour>(round % 3);
        const Bytes bytes = randomStream(rng, flavour, 1 + rng() % 700);
        const std::vector<Feeding> feedings = {
            {}, {{1}, 0}, randomFeeding(rng), randomFeeding(rng)};
        for (const Feeding& feeding : feedings) {
            ASSERT_EQ(differenceFromReference(bytes.data(), bytes.size(), feeding), "")
                << "round " << round << ", pieces " << ::testing::PrintToString(feeding.pieces)
                << ", batch " << feeding.batch << ", stream: " << hex(bytes);
        }
    }
}

}  // namespace
}  // namespace dravik::itm::test
