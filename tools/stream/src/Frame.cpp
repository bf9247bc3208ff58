#include "dravik/stream/Frame.h"

namespace dravik::stream {

uint8_t frameCheck(uint8_t tag, const uint8_t* payload, size_t size) {
    unsigned sum = tag;
    for (size_t i = 0; i < size; ++i) {
        sum += payload[i];
    }
    return static_cast<uint8_t>(0x100u - (sum & 0xFFu));
}

size_t encodeFrame(uint8_t tag, const uint8_t* payload, size_t size, uint8_t* out) {
    CobsWriter writer(out);
    writer.put(tag);
    writer.put(payload, size);
    writer.put(frameCheck(tag, payload, size));
    const size_t encoded = writer.finish();
    out[encoded] = 0;
    return encoded + 1;
}

const char* frameErrorText(FrameError error) {
    switch (error) {
        case FrameError::None:
            return "no error";
        case FrameError::Cobs:
            return "not a COBS encoding";
        case FrameError::Short:
            return "shorter than a tag and a check byte";
        case FrameError::Check:
            return "check byte does not match";
        case FrameError::TooLong:
            return "payload longer than 4096 bytes";
    }
    return "unknown error";
}

FrameError decodeFrame(const uint8_t* encoded, size_t size, uint8_t* scratch, DecodedFrame& frame) {
    const std::optional<size_t> decoded = cobsDecode(encoded, size, scratch);
    if (!decoded) {
        return FrameError::Cobs;
    }
    if (*decoded < 2) {
        return FrameError::Short;
    }
    const size_t payloadSize = *decoded - 2;
    if (payloadSize > kMaxFramePayload) {
        return FrameError::TooLong;
    }
    const uint8_t tag = scratch[0];
    if (frameCheck(tag, scratch + 1, payloadSize) != scratch[*decoded - 1]) {
        return FrameError::Check;
    }
    frame.tag = tag;
    frame.payload = scratch + 1;
    frame.size = payloadSize;
    return FrameError::None;
}

void FrameReader::hold(const uint8_t* data, size_t size) {
    if (overlong_) {
        return;
    }
    if (size > sizeof encoded_ - held_) {
        overlong_ = true;
        held_ = 0;
        return;
    }
    std::memcpy(encoded_ + held_, data, size);
    held_ += size;
}

const DecodedFrame* FrameReader::endFrame() {
    const size_t size = held_;
    const bool overlong = overlong_;
    held_ = 0;
    overlong_ = false;
    if (overlong) {
        lastError_ = FrameError::TooLong;
        ++stats_.badFrames;
        return nullptr;
    }
    if (size == 0) {
        return nullptr;
    }
    const FrameError error = decodeFrame(encoded_, size, decoded_, frame_);
    if (error != FrameError::None) {
        lastError_ = error;
        ++stats_.badFrames;
        return nullptr;
    }
    ++stats_.frames;
    return &frame_;
}

}  // namespace dravik::stream
