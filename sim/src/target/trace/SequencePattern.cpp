#include "target/trace/SequencePattern.h"

#include "target/trace/ItmPackets.h"

namespace dravik::sim {
namespace {

constexpr size_t kWindowBytes = 2 * kSequencePacketBytes;
// Unplaced bytes kept while searching; beyond twice this the oldest half counts as extra.
constexpr size_t kMaxUnplaced = 4096;
constexpr uint64_t kWrap = uint64_t{1} << 32;
// How far from the stream's reach a lone packet may lie and still be trusted.
constexpr uint64_t kNearBytes = 4096 * kSequencePacketBytes;

uint32_t wordAt(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t{bytes[at]} | (uint32_t{bytes[at + 1]} << 8) | (uint32_t{bytes[at + 2]} << 16) |
           (uint32_t{bytes[at + 3]} << 24);
}

// The packet number with these low 32 bits that lies nearest to `near`.
uint64_t nearestPacket(uint32_t low, uint64_t near) {
    uint64_t packet = (near & ~(kWrap - 1)) | low;
    if (packet + kWrap / 2 < near) {
        packet += kWrap;
    } else if (packet > near + kWrap / 2 && packet >= kWrap) {
        packet -= kWrap;
    }
    return packet;
}

}  // namespace

uint8_t sequenceStreamByte(uint8_t port, uint64_t index) {
    const uint64_t packet = index / kSequencePacketBytes;
    const auto offset = static_cast<unsigned>(index % kSequencePacketBytes);
    if (offset == 0) {
        return trace::instrumentationHeader(port, 4);
    }
    return static_cast<uint8_t>(packet >> (8 * (offset - 1)));
}

SequenceChecker::SequenceChecker(uint8_t port) : port_(port) {}

void SequenceChecker::feed(const uint8_t* bytes, size_t count) {
    if (bytes == nullptr) {
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        feedByte(bytes[i]);
    }
}

void SequenceChecker::feedByte(uint8_t byte) {
    ++received_;
    place(byte);
}

void SequenceChecker::place(uint8_t byte) {
    if (inStep_) {
        if (byte == sequenceStreamByte(port_, next_)) {
            takeInStep();
            return;
        }
        inStep_ = false;
    }
    pending_.push_back(byte);
    if (!findPlace() && pending_.size() >= 2 * kMaxUnplaced) {
        pending_.erase(pending_.begin(), pending_.begin() + kMaxUnplaced);
        extra_ += kMaxUnplaced;
    }
}

void SequenceChecker::takeInStep() {
    if (next_ < reached_) {
        ++extra_;
    } else {
        ++matched_;
        reached_ = next_ + 1;
    }
    ++next_;
}

// Stream index of the packet whose header is at `at` in the unplaced bytes, if it is one.
bool SequenceChecker::packetAt(size_t at, uint64_t& index) const {
    if (pending_[at] != trace::instrumentationHeader(port_, 4)) {
        return false;
    }
    index = nearestPacket(wordAt(pending_, at + 1), next_ / kSequencePacketBytes) *
            kSequencePacketBytes;
    return true;
}

// Looks at the end of the unplaced bytes for the stream's place: two whole packets in a row are
// trusted anywhere; one whole packet followed by a header or an overflow packet (what a run of
// overflows leaves) only near where the stream stands.
bool SequenceChecker::findPlace() {
    const size_t size = pending_.size();
    uint64_t first = 0;
    uint64_t second = 0;
    if (size >= kWindowBytes && packetAt(size - kWindowBytes, first) &&
        packetAt(size - kSequencePacketBytes, second) && second == first + kSequencePacketBytes) {
        resume(size - kWindowBytes, kWindowBytes, first);
        return true;
    }
    if (size < kSequencePacketBytes + 1) {
        return false;
    }
    const size_t at = size - kSequencePacketBytes - 1;
    const uint8_t after = pending_.back();
    if ((after == trace::instrumentationHeader(port_, 4) || after == trace::kOverflowPacket) &&
        packetAt(at, first)) {
        const uint64_t distance = first > reached_ ? first - reached_ : reached_ - first;
        if (distance <= kNearBytes) {
            resume(at, kSequencePacketBytes, first);
            return true;
        }
    }
    return false;
}

void SequenceChecker::finish() {
    uint64_t first = 0;
    const size_t size = pending_.size();
    if (size >= kSequencePacketBytes && packetAt(size - kSequencePacketBytes, first)) {
        const uint64_t distance = first > reached_ ? first - reached_ : reached_ - first;
        if (distance <= kNearBytes) {
            resume(size - kSequencePacketBytes, kSequencePacketBytes, first);
        }
    }
    extra_ += pending_.size();
    pending_.clear();
}

// The unplaced bytes from `at` on, `length` of them, are stream bytes from `start` on: accounts for
// everything before them and goes on in step.
void SequenceChecker::resume(size_t at, size_t length, uint64_t start) {
    if (start > reached_) {
        // Unplaced bytes just before the window that fit the stream there arrived in their place.
        uint64_t fitting = 0;
        while (fitting < at && fitting < start - reached_ &&
               pending_[at - 1 - fitting] == sequenceStreamByte(port_, start - 1 - fitting)) {
            ++fitting;
        }
        lost_ += start - reached_ - fitting;
        matched_ += fitting;
        extra_ += at - fitting;
        reached_ = start;
    } else {
        extra_ += at;
    }
    const std::vector<uint8_t> rest(pending_.begin() + static_cast<std::ptrdiff_t>(at + length),
                                    pending_.end());
    pending_.clear();
    inStep_ = true;
    next_ = start;
    for (size_t i = 0; i < length; ++i) {
        takeInStep();
    }
    for (uint8_t byte : rest) {
        place(byte);
    }
}

}  // namespace dravik::sim
