#include "DravikBench/SwvReceiver.h"

#include <algorithm>
#include <cstring>

namespace dravik::sim {

void SwvReceiver::start(uint32_t rateBps, uint16_t bufferSize) {
    counters_.discarded += size_;
    buffer_.assign(bufferSize, 0);
    head_ = 0;
    size_ = 0;
    rateBps_ = rateBps;
    running_ = true;
}

void SwvReceiver::stop() {
    running_ = false;
}

void SwvReceiver::reset() {
    *this = SwvReceiver();
}

void SwvReceiver::feed(const uint8_t* bytes, size_t count) {
    if (!running_ || bytes == nullptr || count == 0) {
        return;
    }
    counters_.received += count;
    const size_t capacity = buffer_.size();
    const size_t kept = std::min(count, capacity - size_);
    counters_.lost += count - kept;
    if (kept == 0) {
        return;
    }
    // The free space starts after the newest byte and may wrap once.
    const size_t tail = (head_ + size_) % capacity;
    const size_t first = std::min(kept, capacity - tail);
    std::memcpy(buffer_.data() + tail, bytes, first);
    std::memcpy(buffer_.data(), bytes + first, kept - first);
    size_ += kept;
}

size_t SwvReceiver::take(uint8_t* out, size_t count) {
    if (count > size_) {
        ++counters_.shortReads;
    }
    const size_t moved = std::min(count, size_);
    if (out == nullptr || moved == 0) {
        return 0;
    }
    const size_t first = std::min(moved, buffer_.size() - head_);
    std::memcpy(out, buffer_.data() + head_, first);
    std::memcpy(out + first, buffer_.data(), moved - first);
    head_ = (head_ + moved) % buffer_.size();
    size_ -= moved;
    counters_.delivered += moved;
    return moved;
}

}  // namespace dravik::sim
