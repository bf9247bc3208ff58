#include "target/trace/SequencePattern.h"

#include "target/trace/ItmPackets.h"

namespace dravik::sim {
namespace {

constexpr size_t kWindowBytes = 2 * kSequencePacketBytes;
// Unplaced bytes kept while searching; beyond twice this the oldest half counts as extra.
constexpr size_t kMaxUnplaced = 4096;
constexpr uint64_t kWrap = uint64_t{1} << 32;

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

// Looks for two whole packets at the end of the unplaced bytes; on success places them and
// accounts for everything before them.
bool SequenceChecker::findPlace() {
    if (pending_.size() < kWindowBytes) {
        return false;
    }
    const size_t at = pending_.size() - kWindowBytes;
    const uint8_t header = trace::instrumentationHeader(port_, 4);
    if (pending_[at] != header || pending_[at + kSequencePacketBytes] != header) {
        return false;
    }
    const uint32_t first = wordAt(pending_, at + 1);
    if (wordAt(pending_, at + 1 + kSequencePacketBytes) != first + 1) {
        return false;
    }
    const uint64_t start = nearestPacket(first, next_ / kSequencePacketBytes) * kSequencePacketBytes;
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
    pending_.clear();
    inStep_ = true;
    next_ = start;
    for (size_t i = 0; i < kWindowBytes; ++i) {
        takeInStep();
    }
    return true;
}

}  // namespace dravik::sim
