// The ITM/DWT decoder on arbitrary bytes. The first input bytes choose a chunking; the rest is the
// stream. Decoded in one piece, in those chunks, through the batch call with a small array and with
// a sink that stops early, the stream must give the same packets and counters every time.
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "FuzzTargets.h"
#include "dravik/itm/Decoder.h"
#include "dravik/itm/LineAssembler.h"

namespace dravik::fuzz {

namespace {

using itm::Decoder;
using itm::DecoderStats;
using itm::Packet;

bool SamePackets(const std::vector<Packet>& a, const std::vector<Packet>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Packet)) == 0);
}

bool SameStats(const DecoderStats& a, const DecoderStats& b) {
    return a.packets == b.packets && a.bytes == b.bytes && a.discardedBytes == b.discardedBytes &&
           a.malformedPackets == b.malformedPackets && a.truncatedPackets == b.truncatedPackets;
}

// Chunk sizes from the input: 1 to 16 of them, each 0 to 255 bytes, used in turn.
std::vector<size_t> Chunking(FuzzInput& in) {
    std::vector<size_t> sizes(1 + in.u8() % 16);
    for (size_t& s : sizes) {
        s = in.u8();
    }
    return sizes;
}

}  // namespace

int FuzzDecoder(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const std::vector<size_t> chunks = Chunking(in);
    const size_t stopEvery = 1 + in.u8() % 8;
    const std::vector<uint8_t> stream = in.rest();

    std::vector<Packet> whole;
    Decoder one;
    DRAVIK_FUZZ_REQUIRE(one.feed(stream.data(), stream.size(),
                                 [&](const Packet& p) { whole.push_back(p); }) == stream.size());
    DRAVIK_FUZZ_REQUIRE(one.heldBytes() <= Decoder::kMaxPacketBytes);
    one.finish();
    DRAVIK_FUZZ_REQUIRE(one.heldBytes() == 0);
    DRAVIK_FUZZ_REQUIRE(one.stats().bytes == stream.size());
    DRAVIK_FUZZ_REQUIRE(one.stats().totalPackets() == whole.size());

    // In chunks, some of them empty.
    std::vector<Packet> chunked;
    Decoder two;
    size_t pos = 0;
    for (size_t i = 0; pos < stream.size(); ++i) {
        const size_t n = std::min(chunks[i % chunks.size()], stream.size() - pos);
        if (n == 0 && i > 4 * stream.size() + 16) {
            break;  // a chunking of zeros only
        }
        DRAVIK_FUZZ_REQUIRE(
            two.feed(stream.data() + pos, n, [&](const Packet& p) { chunked.push_back(p); }) == n);
        pos += n;
    }
    if (pos < stream.size()) {
        two.feed(stream.data() + pos, stream.size() - pos,
                 [&](const Packet& p) { chunked.push_back(p); });
    }
    two.finish();
    DRAVIK_FUZZ_REQUIRE(SamePackets(whole, chunked));
    DRAVIK_FUZZ_REQUIRE(SameStats(one.stats(), two.stats()));

    // A sink that stops after every few packets: the bytes not taken are fed again.
    std::vector<Packet> stopped;
    Decoder three;
    pos = 0;
    for (size_t guard = 0; pos < stream.size(); ++guard) {
        DRAVIK_FUZZ_REQUIRE(guard <= stream.size() + 1);
        size_t seen = 0;
        const size_t taken =
            three.feed(stream.data() + pos, stream.size() - pos, [&](const Packet& p) {
                stopped.push_back(p);
                return ++seen < stopEvery;
            });
        DRAVIK_FUZZ_REQUIRE(taken <= stream.size() - pos);
        DRAVIK_FUZZ_REQUIRE(taken > 0 || seen > 0);
        pos += taken;
    }
    three.finish();
    DRAVIK_FUZZ_REQUIRE(SamePackets(whole, stopped));

    // The batch call with a small array.
    std::vector<Packet> batched;
    Decoder four;
    Packet out[3];
    pos = 0;
    for (size_t guard = 0; pos < stream.size(); ++guard) {
        DRAVIK_FUZZ_REQUIRE(guard <= stream.size() + 1);
        const itm::BatchResult r = four.decode(stream.data() + pos, stream.size() - pos, out, 3);
        DRAVIK_FUZZ_REQUIRE(r.packets <= 3 && r.bytesConsumed <= stream.size() - pos);
        DRAVIK_FUZZ_REQUIRE(r.bytesConsumed > 0 || r.packets > 0);
        batched.insert(batched.end(), out, out + r.packets);
        pos += r.bytesConsumed;
    }
    four.finish();
    DRAVIK_FUZZ_REQUIRE(SamePackets(whole, batched));
    DRAVIK_FUZZ_REQUIRE(SameStats(one.stats(), four.stats()));

    // Lines on every port of the first page, with a short line limit.
    size_t lineBytes = 0;
    for (unsigned port = 0; port < 2; ++port) {
        itm::LineAssembler lines(port, 1 + stopEvery);
        for (const Packet& p : whole) {
            lines.add(p, [&](std::string_view line) {
                DRAVIK_FUZZ_REQUIRE(line.size() <= 1 + stopEvery);
                lineBytes += line.size();
            });
        }
        lines.flush([&](std::string_view line) { lineBytes += line.size(); });
    }
    DRAVIK_FUZZ_REQUIRE(lineBytes <= 4 * whole.size());
    return 0;
}

}  // namespace dravik::fuzz
