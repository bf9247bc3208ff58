// The frame reader and its COBS decoder on bytes as a network input gets them. The first input
// bytes choose a chunking and a tag; the rest is the stream. Whole and in those chunks the reader
// must find the same frames; each frame it finds, and only those, must be what the plain frame
// decoder makes of the bytes between two zeros; a frame it returns must read back the same once
// encoded again; and the stream itself, taken as data, must come back from encoder and reader.
#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "FuzzCheck.h"
#include "FuzzInput.h"
#include "FuzzTargets.h"
#include "dravik/stream/Cobs.h"
#include "dravik/stream/Frame.h"

namespace dravik::fuzz {

namespace {

using stream::DecodedFrame;
using stream::FrameReader;
using Bytes = std::vector<uint8_t>;

struct Frame {
    uint8_t tag;
    Bytes payload;
    bool operator==(const Frame& other) const {
        return tag == other.tag && payload == other.payload;
    }
};

struct Reading {
    std::vector<Frame> frames;
    uint64_t good = 0;
    uint64_t bad = 0;
    size_t held = 0;
};

// Feeds `stream` in pieces of the sizes given, in turn (all zero: in one piece).
Reading Read(const Bytes& stream, const std::vector<size_t>& pieces) {
    Reading reading;
    FrameReader reader;
    auto sink = [&](const DecodedFrame& frame) {
        DRAVIK_FUZZ_REQUIRE(frame.size <= stream::kMaxFramePayload);
        reading.frames.push_back({frame.tag, Bytes(frame.payload, frame.payload + frame.size)});
    };
    const bool whole = std::all_of(pieces.begin(), pieces.end(), [](size_t n) { return n == 0; });
    size_t at = 0;
    for (size_t i = 0; at < stream.size(); ++i) {
        const size_t n =
            whole ? stream.size() : std::min(pieces[i % pieces.size()], stream.size() - at);
        reader.feed(stream.data() + at, n, sink);
        DRAVIK_FUZZ_REQUIRE(reader.heldBytes() < stream::kMaxEncodedFrame);
        at += n;
    }
    reading.good = reader.stats().frames;
    reading.bad = reader.stats().badFrames;
    reading.held = reader.heldBytes();
    return reading;
}

}  // namespace

int FuzzStreamFrames(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    std::vector<size_t> pieces(1 + in.u8() % 16);
    for (size_t& piece : pieces) {
        piece = in.u8();
    }
    const uint8_t tag = in.u8();
    const Bytes stream = in.rest();

    const Reading whole = Read(stream, {0});
    const Reading chunked = Read(stream, pieces);
    DRAVIK_FUZZ_REQUIRE(whole.frames == chunked.frames);
    DRAVIK_FUZZ_REQUIRE(whole.good == chunked.good && whole.bad == chunked.bad);
    DRAVIK_FUZZ_REQUIRE(whole.held == chunked.held);
    DRAVIK_FUZZ_REQUIRE(whole.good == whole.frames.size());

    // The same judgement, one segment at a time, by the plain decoder.
    std::vector<Frame> plain;
    uint64_t rejected = 0;
    size_t start = 0;
    for (size_t at = 0; at < stream.size(); ++at) {
        if (stream[at] != 0) {
            continue;
        }
        const size_t length = at - start;
        if (length != 0) {
            Bytes scratch(length);
            DecodedFrame frame;
            if (stream::decodeFrame(stream.data() + start, length, scratch.data(), frame) ==
                stream::FrameError::None) {
                plain.push_back({frame.tag, Bytes(frame.payload, frame.payload + frame.size)});
            } else {
                ++rejected;
            }
        }
        start = at + 1;
    }
    DRAVIK_FUZZ_REQUIRE(plain == whole.frames);
    DRAVIK_FUZZ_REQUIRE(rejected == whole.bad);
    // What follows the last zero is held, unless it outgrew any frame.
    const size_t tail = stream.size() - start;
    DRAVIK_FUZZ_REQUIRE(whole.held == (tail < stream::kMaxEncodedFrame ? tail : 0));

    // Every frame read encodes back to one that reads the same.
    uint8_t encoded[stream::kMaxEncodedFrame];
    for (const Frame& frame : whole.frames) {
        const size_t n =
            stream::encodeFrame(frame.tag, frame.payload.data(), frame.payload.size(), encoded);
        const Reading again = Read(Bytes(encoded, encoded + n), {0});
        DRAVIK_FUZZ_REQUIRE(again.frames.size() == 1 && again.frames[0] == frame && again.bad == 0);
    }

    // The stream as data: COBS leaves no zero and gives it back; as frames of up to the most a
    // frame holds, under the chosen tag, the reader returns it whole.
    Bytes cobs(stream::cobsMaxEncodedSize(stream.size()));
    cobs.resize(stream::cobsEncode(stream.data(), stream.size(), cobs.data()));
    DRAVIK_FUZZ_REQUIRE(std::find(cobs.begin(), cobs.end(), 0) == cobs.end());
    Bytes back(cobs.size());
    const std::optional<size_t> decoded = stream::cobsDecode(cobs.data(), cobs.size(), back.data());
    DRAVIK_FUZZ_REQUIRE(decoded && *decoded == stream.size());
    DRAVIK_FUZZ_REQUIRE(std::equal(stream.begin(), stream.end(), back.begin()));

    Bytes wire;
    size_t at = 0;
    do {
        const size_t n = std::min(stream::kMaxFramePayload, stream.size() - at);
        const size_t length = stream::encodeFrame(tag, stream.data() + at, n, encoded);
        DRAVIK_FUZZ_REQUIRE(length <= stream::kMaxEncodedFrame && encoded[length - 1] == 0);
        DRAVIK_FUZZ_REQUIRE(std::find(encoded, encoded + length - 1, 0) == encoded + length - 1);
        wire.insert(wire.end(), encoded, encoded + length);
        at += n;
    } while (at < stream.size());
    const Reading framed = Read(wire, pieces);
    DRAVIK_FUZZ_REQUIRE(framed.bad == 0 && framed.held == 0);
    Bytes joined;
    for (const Frame& frame : framed.frames) {
        DRAVIK_FUZZ_REQUIRE(frame.tag == tag);
        joined.insert(joined.end(), frame.payload.begin(), frame.payload.end());
    }
    DRAVIK_FUZZ_REQUIRE(joined == stream);
    return 0;
}

}  // namespace dravik::fuzz
