// The fast ITM/DWT decoder against the plain reference decoder on arbitrary bytes. The first input
// bytes choose piece sizes and a batch size; the rest is the stream. Whole, byte by byte, in those
// pieces through the callback and through the batch call, the fast decoder must give exactly the
// reference's packets and counters.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "DifferentialCheck.h"
#include "FuzzInput.h"
#include "FuzzTargets.h"

namespace dravik::fuzz {

namespace {

using itm::test::Feeding;

void RequireAgreement(const std::vector<uint8_t>& stream, const Feeding& feeding, const char* how) {
    const std::string difference =
        itm::test::differenceFromReference(stream.data(), stream.size(), feeding);
    if (!difference.empty()) {
        std::fprintf(stderr, "decoders disagree, %s: %s\n", how, difference.c_str());
        std::abort();
    }
}

}  // namespace

int FuzzDecoderDifferential(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    // 1 to 8 piece sizes of 0 to 255 bytes, used in turn; small ones far more often.
    Feeding pieces;
    pieces.pieces.resize(1 + in.u8() % 8);
    for (size_t& piece : pieces.pieces) {
        const uint8_t b = in.u8();
        piece = (b & 0x80) != 0 ? b & 0x7F : b & 0x0F;
    }
    const size_t batch = 1 + in.u8() % 5;
    const std::vector<uint8_t> stream = in.rest();

    RequireAgreement(stream, Feeding{}, "whole");
    RequireAgreement(stream, Feeding{{1}, 0}, "byte by byte");
    RequireAgreement(stream, pieces, "in pieces");
    pieces.batch = batch;
    RequireAgreement(stream, pieces, "in pieces, batch call");
    return 0;
}

}  // namespace dravik::fuzz
