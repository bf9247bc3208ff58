// The frame port's wire format: each frame is the COBS encoding of [tag][payload][check]
// followed by one 0x00. `check` makes (tag + every payload byte + check) mod 256 equal 0. Tag 1
// carries the ITM stream; a payload holds at most 4096 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dravik/stream/Cobs.h"

namespace dravik::stream {

constexpr uint8_t kItmTag = 1;
constexpr size_t kMaxFramePayload = 4096;
// A whole frame on the wire at the most: the encoded tag, payload and check, and the 0x00.
constexpr size_t kMaxEncodedFrame = cobsMaxEncodedSize(kMaxFramePayload + 2) + 1;

uint8_t frameCheck(uint8_t tag, const uint8_t* payload, size_t size);

// Writes one frame with its ending 0x00 into `out` (kMaxEncodedFrame bytes); returns its size.
// `size` must not exceed kMaxFramePayload: longer data is sent as several frames.
size_t encodeFrame(uint8_t tag, const uint8_t* payload, size_t size, uint8_t* out);

enum class FrameError {
    None,
    Cobs,     // not a COBS encoding
    Short,    // fewer than a tag and a check byte
    Check,    // the check byte does not match
    TooLong,  // a payload over kMaxFramePayload
};

const char* frameErrorText(FrameError error);

struct DecodedFrame {
    uint8_t tag = 0;
    const uint8_t* payload = nullptr;  // into the caller's buffer
    size_t size = 0;
};

// Decodes one frame given without its 0x00 into `scratch` (at least `size` bytes); on success the
// frame's payload points into scratch.
FrameError decodeFrame(const uint8_t* encoded, size_t size, uint8_t* scratch, DecodedFrame& frame);

struct FrameReaderStats {
    uint64_t frames = 0;     // good frames, of any tag
    uint64_t badFrames = 0;  // frames that did not decode, each counted once
};

// Cuts a byte stream into frames, in any chunking. A bad frame is counted and skipped; the
// reader picks up again after its 0x00. Two 0x00 in a row (an empty frame) are not counted:
// senders may put one ahead of their first frame to mark a clean start.
class FrameReader {
  public:
    // Calls sink(const DecodedFrame&) for every good frame; the payload is valid during the call.
    template <typename Sink>
    void feed(const uint8_t* data, size_t size, Sink&& sink) {
        while (size != 0) {
            const void* zero = std::memchr(data, 0, size);
            const size_t take = zero != nullptr
                                    ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - data)
                                    : size;
            hold(data, take);
            if (zero == nullptr) {
                return;
            }
            if (const DecodedFrame* frame = endFrame()) {
                sink(*frame);
            }
            data += take + 1;
            size -= take + 1;
        }
    }

    const FrameReaderStats& stats() const { return stats_; }
    FrameError lastError() const { return lastError_; }
    // Bytes of an unfinished frame held since the last feed.
    size_t heldBytes() const { return held_; }

  private:
    void hold(const uint8_t* data, size_t size);
    // At a 0x00: the frame held, or null for a bad or empty one.
    const DecodedFrame* endFrame();

    uint8_t encoded_[kMaxEncodedFrame - 1];
    uint8_t decoded_[kMaxEncodedFrame - 1];
    size_t held_ = 0;
    bool overlong_ = false;  // the frame held outgrew any good frame: skipped up to its 0x00
    DecodedFrame frame_;
    FrameReaderStats stats_;
    FrameError lastError_ = FrameError::None;
};

}  // namespace dravik::stream
