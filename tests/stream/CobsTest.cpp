#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "dravik/stream/Cobs.h"

namespace dravik::stream {
namespace {

using Bytes = std::vector<uint8_t>;

// `size` non-zero bytes, counting up from `first`.
Bytes run(size_t size, uint8_t first = 1) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        const uint8_t byte = static_cast<uint8_t>(first + i);
        bytes[i] = byte == 0 ? 0x5A : byte;
    }
    return bytes;
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes encode(const Bytes& input) {
    Bytes out(cobsMaxEncodedSize(input.size()));
    out.resize(cobsEncode(input.data(), input.size(), out.data()));
    return out;
}

std::optional<Bytes> decode(const Bytes& encoded) {
    Bytes out(encoded.size());
    const std::optional<size_t> size = cobsDecode(encoded.data(), encoded.size(), out.data());
    if (!size) {
        return std::nullopt;
    }
    out.resize(*size);
    return out;
}

struct Case {
    const char* name;
    Bytes input;
    Bytes encoded;
};

TEST(Cobs, EncodesExactlyAndDecodesBack) {
    const Bytes r253 = run(253);
    const Bytes r254 = run(254);
    const Bytes r255 = run(255);
    const std::vector<Case> cases = {
        {"empty", {}, {0x01}},
        {"one zero", {0x00}, {0x01, 0x01}},
        {"two zeros", {0x00, 0x00}, {0x01, 0x01, 0x01}},
        {"zero inside", {0x11, 0x22, 0x00, 0x33}, {0x03, 0x11, 0x22, 0x02, 0x33}},
        {"zero at the end", {0x11, 0x00}, {0x02, 0x11, 0x01}},
        {"253 non-zero", r253, join({{0xFE}, r253})},
        {"254 non-zero: the group is closed with 0x01", r254, join({{0xFF}, r254, {0x01}})},
        {"255 non-zero", r255,
         join({{0xFF},
               Bytes(r255.begin(), r255.begin() + 254),
               {0x02},
               Bytes(r255.begin() + 254, r255.end())})},
        {"254 non-zero, then a zero", join({r254, {0x00}}), join({{0xFF}, r254, {0x01, 0x01}})},
        {"a zero, then 254 non-zero", join({{0x00}, r254}), join({{0x01, 0xFF}, r254, {0x01}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes encoded = encode(c.input);
        EXPECT_EQ(encoded, c.encoded);
        EXPECT_LE(encoded.size(), cobsMaxEncodedSize(c.input.size()));
        EXPECT_EQ(std::count(encoded.begin(), encoded.end(), 0), 0);
        EXPECT_EQ(decode(c.encoded), c.input);
    }
}

TEST(Cobs, DecodesAFinalFullGroupWithoutItsClosingCode) {
    const Bytes r254 = run(254);
    EXPECT_EQ(decode(join({{0xFF}, r254})), r254);
}

TEST(Cobs, RejectsWhatNoEncoderWrites) {
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"empty", {}},
        {"a zero code", {0x00}},
        {"a zero inside a group", {0x03, 0x11, 0x00}},
        {"a group past the end", {0x03, 0x11}},
        {"a full group past the end", join({{0xFF}, run(253)})},
    };
    for (const auto& [name, encoded] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(decode(encoded), std::nullopt);
    }
}

TEST(Cobs, EverySizeRoundTrips) {
    for (size_t size = 0; size <= 1100; ++size) {
        Bytes input = run(size, static_cast<uint8_t>(size));
        if (size % 3 == 0 && size != 0) {
            input[size / 2] = 0;
        }
        ASSERT_EQ(decode(encode(input)), input) << size << " bytes";
    }
}

}  // namespace
}  // namespace dravik::stream
