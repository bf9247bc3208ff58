// A bounded ring of pointers from one producing thread to one consuming thread, without a lock:
// neither side ever waits for the other. The draining thread runs at a raised priority, and a
// lock it shared with a thread of normal priority could hold it for a whole scheduler slice
// whenever that thread was preempted while holding it.
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

namespace dravik::swv {

template <typename T>
class SpscRing {
  public:
    explicit SpscRing(size_t capacity) : slots_(capacity + 1, nullptr) {}
    SpscRing(const SpscRing&) = delete;
    SpscRing& operator=(const SpscRing&) = delete;

    // Producer: false when the ring is full.
    bool push(T* item) {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        const size_t next = advance(tail);
        if (next == head_.load(std::memory_order_acquire)) {
            return false;
        }
        slots_[tail] = item;
        tail_.store(next, std::memory_order_release);
        return true;
    }

    // Consumer: null when the ring is empty.
    T* pop() {
        const size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) {
            return nullptr;
        }
        T* item = slots_[head];
        head_.store(advance(head), std::memory_order_release);
        return item;
    }

    // Exact on either side when the other is idle; otherwise a snapshot.
    bool empty() const {
        return head_.load(std::memory_order_acquire) == tail_.load(std::memory_order_acquire);
    }

  private:
    size_t advance(size_t index) const { return index + 1 == slots_.size() ? 0 : index + 1; }

    std::vector<T*> slots_;
    alignas(64) std::atomic<size_t> head_{0};  // written by the consumer
    alignas(64) std::atomic<size_t> tail_{0};  // written by the producer
};

}  // namespace dravik::swv
