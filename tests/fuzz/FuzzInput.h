// Reads a fuzz input as a stream of choices. Past the end every read gives zero, so any input,
// however short, is a complete program for a harness.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace dravik::fuzz {

class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool more() const { return pos_ < size_; }
    uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    // Multi-byte reads are sequenced one byte after the other, so that every compiler reads an
    // input the same way (a regression replays under g++ what clang's fuzzer found).
    uint16_t u16() {
        const unsigned low = u8();
        return static_cast<uint16_t>(low | unsigned(u8()) << 8);
    }
    uint32_t u32() {
        const uint32_t low = u16();
        return low | uint32_t(u16()) << 16;
    }
    int i32() { return static_cast<int>(u32()); }
    bool flag() { return (u8() & 1) != 0; }
    // True about once in `n` reads.
    bool oneIn(unsigned n) { return u8() % n == 0; }

    // One of the values given, or (for the index one past them) `any`, which the caller reads
    // from the input before this call reads the index.
    template <typename T>
    T pick(std::initializer_list<T> values, T any) {
        const size_t i = u8() % (values.size() + 1);
        return i < values.size() ? values.begin()[i] : any;
    }
    template <typename T>
    T pick(std::initializer_list<T> values) {
        return values.begin()[u8() % values.size()];
    }

    // Up to `maxLength` bytes, as many as the input has.
    std::vector<uint8_t> bytes(size_t maxLength) {
        const size_t n = maxLength > 255 ? u16() % (maxLength + 1) : u8() % (maxLength + 1);
        std::vector<uint8_t> out;
        out.reserve(n);
        while (out.size() < n && more()) {
            out.push_back(u8());
        }
        return out;
    }
    std::string text(size_t maxLength) {
        const std::vector<uint8_t> b = bytes(maxLength);
        return std::string(b.begin(), b.end());
    }

    // Whatever the input has left.
    std::vector<uint8_t> rest() {
        std::vector<uint8_t> out(data_ + pos_, data_ + size_);
        pos_ = size_;
        return out;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace dravik::fuzz
