#include <gtest/gtest.h>

#include <vector>

#include "StreamTestSupport.h"
#include "dravik/stream/Frame.h"

namespace dravik::stream {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes frame(uint8_t tag, const Bytes& payload) {
    Bytes out(kMaxEncodedFrame);
    out.resize(encodeFrame(tag, payload.data(), payload.size(), out.data()));
    return out;
}

// A frame encoded by hand: COBS of tag, body and the given check, then 0x00.
Bytes rawFrame(const Bytes& decoded) {
    Bytes out(cobsMaxEncodedSize(decoded.size()) + 1);
    out.resize(cobsEncode(decoded.data(), decoded.size(), out.data()));
    out.push_back(0);
    return out;
}

TEST(Frame, EncodesExactBytes) {
    // tag 1 + 0x00 + 0x10 + check 0xEF = 0x100.
    EXPECT_EQ(frame(1, {0x00, 0x10}), (Bytes{0x02, 0x01, 0x03, 0x10, 0xEF, 0x00}));
    EXPECT_EQ(frame(1, {}), (Bytes{0x03, 0x01, 0xFF, 0x00}));
    EXPECT_EQ(frame(2, {0xFE}), (Bytes{0x03, 0x02, 0xFE, 0x01, 0x00}));  // check 0
}

TEST(Frame, AFullPayloadIsTheLongestFrame) {
    // 4098 non-zero bytes: 16 full groups, then one of 34 bytes.
    const Bytes payload(kMaxFramePayload, 0xFF);
    const Bytes encoded = frame(1, payload);
    ASSERT_EQ(encoded.size(), kMaxEncodedFrame);
    EXPECT_EQ(encoded.size(), 4116u);
    for (size_t group = 0; group < 16; ++group) {
        EXPECT_EQ(encoded[group * 255], 0xFF) << group;
    }
    EXPECT_EQ(encoded[16 * 255], 35);
    EXPECT_EQ(encoded[16 * 255 + 1 + 33], 0xFF);  // the check
    EXPECT_EQ(encoded.back(), 0x00);

    Bytes scratch(encoded.size());
    DecodedFrame decoded;
    ASSERT_EQ(decodeFrame(encoded.data(), encoded.size() - 1, scratch.data(), decoded),
              FrameError::None);
    EXPECT_EQ(decoded.tag, 1);
    EXPECT_EQ(Bytes(decoded.payload, decoded.payload + decoded.size), payload);
}

TEST(Frame, RejectsBadFrames) {
    Bytes tooLong(kMaxFramePayload + 3, 0x01);  // tag, 4097 bytes, check
    tooLong.back() = frameCheck(1, tooLong.data() + 1, kMaxFramePayload + 1);
    const std::vector<std::pair<Bytes, FrameError>> cases = {
        {rawFrame({0x01, 0x10, 0xEE}), FrameError::Check},
        {rawFrame({0x01}), FrameError::Short},
        {{0x03, 0x01, 0x00}, FrameError::Cobs},
        {rawFrame(tooLong), FrameError::TooLong},
    };
    for (const auto& [encoded, error] : cases) {
        SCOPED_TRACE(frameErrorText(error));
        Bytes scratch(encoded.size());
        DecodedFrame decoded;
        EXPECT_EQ(decodeFrame(encoded.data(), encoded.size() - 1, scratch.data(), decoded), error);
    }
}

struct Seen {
    std::vector<std::pair<uint8_t, Bytes>> frames;
    FrameReaderStats stats;
};

Seen readAll(const Bytes& wire, size_t chunk) {
    Seen seen;
    FrameReader reader;
    for (size_t at = 0; at < wire.size(); at += chunk) {
        reader.feed(wire.data() + at, std::min(chunk, wire.size() - at),
                    [&](const DecodedFrame& f) {
                        seen.frames.emplace_back(f.tag, Bytes(f.payload, f.payload + f.size));
                    });
    }
    seen.stats = reader.stats();
    return seen;
}

TEST(FrameReader, CutsFramesInAnyChunkingAndSkipsBadOnes) {
    const Bytes full = test::pattern(kMaxFramePayload, 7);
    Bytes wire = {0x00};  // a clean start, not a frame
    for (const Bytes& part : {frame(1, {0x41}), frame(2, {}), Bytes{0x00},  // an empty frame
                              rawFrame({0x01, 0x10, 0xEE}),                 // bad check
                              Bytes(5000, 0x33), Bytes{0x00},               // longer than any
                              frame(1, full)}) {
        wire.insert(wire.end(), part.begin(), part.end());
    }
    const std::vector<std::pair<uint8_t, Bytes>> expected = {{1, {0x41}}, {2, {}}, {1, full}};
    for (size_t chunk : {size_t{1}, size_t{7}, size_t{4116}, wire.size()}) {
        SCOPED_TRACE(chunk);
        const Seen seen = readAll(wire, chunk);
        EXPECT_EQ(seen.frames, expected);
        EXPECT_EQ(seen.stats.frames, 3u);
        EXPECT_EQ(seen.stats.badFrames, 2u);
    }
}

}  // namespace
}  // namespace dravik::stream
