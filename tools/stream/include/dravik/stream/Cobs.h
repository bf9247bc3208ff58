// Consistent Overhead Byte Stuffing: turns any byte string into one without 0x00, so that a
// single 0x00 can end a frame. Each group starts with a code byte: the distance to the next zero
// of the input (the zero itself is not written), or 0xFF for 254 non-zero bytes with no zero.
//
// The encoder always closes the last group, so input ending in a run of 254 non-zero bytes gets
// a final 0x01. Decoders of both habits (those that expect it and those that do not) read that
// form the same; the decoder here accepts both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace dravik::stream {

// The most bytes cobsEncode writes for `size` input bytes.
constexpr size_t cobsMaxEncodedSize(size_t size) {
    return size + size / 254 + 1;
}

// Streams the encoding into a buffer of cobsMaxEncodedSize(total input) bytes, a byte at a time,
// so that a frame is encoded from its parts without first copying them together.
class CobsWriter {
  public:
    explicit CobsWriter(uint8_t* out) : start_(out), code_(out), next_(out + 1) {}

    void put(uint8_t byte) {
        if (byte == 0) {
            closeGroup();
            return;
        }
        *next_++ = byte;
        if (++run_ == 0xFF) {
            closeGroup();
        }
    }
    // A byte at a time: ITM data is dense with zeros (short values, timestamps), where a search
    // for the next zero would cost more per byte than this loop does.
    void put(const uint8_t* data, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            put(data[i]);
        }
    }
    // Closes the last group; returns the encoded size. The writer is then spent.
    size_t finish() {
        *code_ = run_;
        return static_cast<size_t>(next_ - start_);
    }

  private:
    void closeGroup() {
        *code_ = run_;
        code_ = next_++;
        run_ = 1;
    }

    uint8_t* start_;
    uint8_t* code_;  // where the current group's code byte goes
    uint8_t* next_;
    uint8_t run_ = 1;  // the current group's code: 1 + its data bytes so far
};

// Encodes `size` bytes (data may be null when size is 0) into `out`, which holds
// cobsMaxEncodedSize(size) bytes; returns the encoded size (at least 1). Writes no 0x00.
size_t cobsEncode(const uint8_t* data, size_t size, uint8_t* out);

// Decodes an encoding without its ending 0x00 into `out`, which holds at least `size` bytes.
// The decoded size, or nothing when the input is not an encoding: empty, a 0x00 inside, or a
// group that runs past the end.
std::optional<size_t> cobsDecode(const uint8_t* data, size_t size, uint8_t* out);

}  // namespace dravik::stream
