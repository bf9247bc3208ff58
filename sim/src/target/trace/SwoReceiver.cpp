#include "target/trace/SwoReceiver.h"

namespace dravik::sim {
namespace {

constexpr uint64_t kNoiseSeed = 0x5A17E11D0B5E55EDull;
constexpr uint64_t kPermille = 1000;

uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

}  // namespace

SwoReceiver::SwoReceiver(const SwoReceiverConfig& config) : config_(config) {
    restart();
}

SwoReceiver::SwoReceiver(uint32_t rateBps) : SwoReceiver(SwoReceiverConfig{rateBps}) {}

void SwoReceiver::restart() {
    carry_ = 0;
    noise_ = kNoiseSeed ^ config_.rateBps;
    garbageBytes_ = 0;
}

bool SwoReceiver::decodes(const SwoReceiverConfig& config, const SwoLine& line) {
    if (config.rateBps == 0 || line.encoding == SwoEncoding::None ||
        line.encoding != config.encoding || line.clockHz == 0) {
        return false;
    }
    // |rate - clock / cyclesPerBit| <= tolerance * clock / cyclesPerBit, in integers.
    const uint64_t scaled = uint64_t{config.rateBps} * line.cyclesPerBit();
    const uint64_t clock = line.clockHz;
    const uint64_t error = scaled > clock ? scaled - clock : clock - scaled;
    return error * kPermille <= uint64_t{config.tolerancePermille} * clock;
}

void SwoReceiver::receive(const SwoLine& line, const uint8_t* bytes, size_t count,
                          std::vector<uint8_t>& out) {
    if (bytes == nullptr || count == 0 || config_.rateBps == 0 ||
        line.encoding == SwoEncoding::None || line.clockHz == 0) {
        return;
    }
    if (decodes(config_, line)) {
        out.insert(out.end(), bytes, bytes + count);
        return;
    }
    // Frames read per frame sent: rate / (clock / cyclesPerBit).
    const uint64_t perByte = uint64_t{config_.rateBps} * line.cyclesPerBit();
    const uint64_t clock = line.clockHz;
    for (size_t i = 0; i < count; ++i) {
        noise_ = mix(noise_ + bytes[i] + 1);
        carry_ += perByte;
        while (carry_ >= clock) {
            carry_ -= clock;
            noise_ = mix(noise_);
            out.push_back(static_cast<uint8_t>(noise_ >> 56));
            ++garbageBytes_;
        }
    }
}

void SwoReceiver::receive(const std::vector<SwoSegment>& segments, std::vector<uint8_t>& out) {
    for (const SwoSegment& segment : segments) {
        receive(segment.line, segment.bytes.data(), segment.bytes.size(), out);
    }
}

std::vector<uint8_t> SwoReceiver::receive(const SwoLine& line, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> out;
    receive(line, bytes.data(), bytes.size(), out);
    return out;
}

}  // namespace dravik::sim
