// A client's queue: a fixed ring of bytes with one producer (the publishing thread) and one
// consumer (the network thread), so that neither waits on the other. Positions count every byte
// ever written and consumed; their difference is what is queued.
#pragma once

#include <sys/uio.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace dravik::stream {

class ByteRing {
  public:
    // Zero-filled here, on the network thread as a client connects, so that the publisher never
    // waits for the system to supply a page of a queue it fills for the first time.
    explicit ByteRing(size_t capacity)
        : capacity_(capacity == 0 ? 1 : capacity), bytes_(new uint8_t[capacity_]()) {}

    // --- producer ---
    size_t room() const {
        return capacity_ - static_cast<size_t>(written_.load(std::memory_order_relaxed) -
                                               consumed_.load(std::memory_order_acquire));
    }
    // Appends size <= room() bytes.
    void write(const uint8_t* data, size_t size) {
        const uint64_t at = written_.load(std::memory_order_relaxed);
        const size_t offset = static_cast<size_t>(at % capacity_);
        const size_t first = size < capacity_ - offset ? size : capacity_ - offset;
        std::memcpy(bytes_.get() + offset, data, first);
        std::memcpy(bytes_.get(), data + first, size - first);
        written_.store(at + size, std::memory_order_release);
    }

    // --- consumer ---
    // The queued bytes as at most two pieces; returns how many pieces (0 when empty).
    int pending(iovec pieces[2]) const {
        const uint64_t from = consumed_.load(std::memory_order_relaxed);
        const size_t size = static_cast<size_t>(written_.load(std::memory_order_acquire) - from);
        if (size == 0) {
            return 0;
        }
        const size_t offset = static_cast<size_t>(from % capacity_);
        const size_t first = size < capacity_ - offset ? size : capacity_ - offset;
        pieces[0] = {bytes_.get() + offset, first};
        pieces[1] = {bytes_.get(), size - first};
        return size == first ? 1 : 2;
    }
    void consume(size_t size) {
        consumed_.store(consumed_.load(std::memory_order_relaxed) + size,
                        std::memory_order_release);
    }

    // --- either side ---
    size_t queued() const {
        return static_cast<size_t>(written_.load(std::memory_order_acquire) -
                                   consumed_.load(std::memory_order_acquire));
    }
    size_t capacity() const { return capacity_; }

  private:
    size_t capacity_;
    std::unique_ptr<uint8_t[]> bytes_;
    // Apart, so that the two threads do not share a cache line for their own position.
    alignas(64) std::atomic<uint64_t> written_{0};
    alignas(64) std::atomic<uint64_t> consumed_{0};
};

}  // namespace dravik::stream
