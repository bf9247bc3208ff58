#include "dravik/swv/ChunkQueue.h"

#include <time.h>

#include <algorithm>
#include <cerrno>

namespace dravik::swv {

void Losses::add(const Losses& other) {
    if (!other.any()) {
        return;
    }
    if (!any()) {
        firstTimeUs = other.firstTimeUs;
    }
    queueFullBytes += other.queueFullBytes;
    probeDrops += other.probeDrops;
    readFailures += other.readFailures;
}

ChunkQueue::ChunkQueue(size_t maxChunks, size_t chunkBytes)
    : maxChunks_(maxChunks == 0 ? 1 : maxChunks),
      chunkBytes_(chunkBytes),
      ready_(maxChunks_ + 1),
      free_(maxChunks_) {
    ::sem_init(&readySignal_, 0, 0);
    for (size_t i = 0; i < std::min(maxChunks_, kReserveChunks); ++i) {
        free_.push(makeChunk());
    }
}

ChunkQueue::~ChunkQueue() {
    for (SpscRing<Chunk>* ring : {&ready_, &free_}) {
        while (Chunk* chunk = ring->pop()) {
            delete chunk;
        }
    }
    ::sem_destroy(&readySignal_);
}

Chunk* ChunkQueue::makeChunk() {
    ++allocated_;
    auto chunk = std::make_unique<Chunk>();
    chunk->bytes.reserve(chunkBytes_);
    return chunk.release();
}

std::unique_ptr<Chunk> ChunkQueue::acquire() {
    std::unique_ptr<Chunk> chunk = std::move(spare_);
    if (!chunk) {
        chunk.reset(free_.pop());
    }
    if (!chunk) {
        if (allocated_ >= maxChunks_) {
            return nullptr;
        }
        chunk.reset(makeChunk());
    }
    chunk->bytes.resize(chunkBytes_);
    chunk->timeUs = 0;
    chunk->lossesBefore = Losses{};
    return chunk;
}

void ChunkQueue::publish(std::unique_ptr<Chunk> chunk) {
    chunk->lossesBefore = pending_;
    pending_ = Losses{};
    // Never full: at most maxChunks exist, and the ring holds one more.
    if (!ready_.push(chunk.get())) {
        return;  // not one of ours
    }
    static_cast<void>(chunk.release());  // the ring owns it now
    ++published_;
    // Against the consumer's store of consumerIdle_ and its look at the ring: one of the two sees
    // the other, so a chunk never waits for a consumer that went to sleep without seeing it.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (consumerIdle_.load(std::memory_order_relaxed) ||
        published_ - popped_.load(std::memory_order_relaxed) >= kWakeBatch) {
        ::sem_post(&readySignal_);
    }
}

void ChunkQueue::putBack(std::unique_ptr<Chunk> chunk) {
    if (chunk) {
        spare_ = std::move(chunk);
    }
}

void ChunkQueue::noteLosses(const Losses& losses) {
    pending_.add(losses);
}

void ChunkQueue::close() {
    if (pending_.any()) {
        // Outside the chunk budget: the consumer must hear of these losses.
        auto chunk = std::make_unique<Chunk>();
        chunk->timeUs = pending_.firstTimeUs;
        chunk->lossesBefore = pending_;
        pending_ = Losses{};
        if (ready_.push(chunk.get())) {
            static_cast<void>(chunk.release());  // the consumer frees it
        }
    }
    closed_.store(true, std::memory_order_release);
    ::sem_post(&readySignal_);
}

namespace {

timespec MonotonicIn(int64_t ns) {
    timespec at{};
    ::clock_gettime(CLOCK_MONOTONIC, &at);
    const int64_t total = static_cast<int64_t>(at.tv_nsec) + ns;
    at.tv_sec += static_cast<time_t>(total / 1000000000);
    at.tv_nsec = static_cast<long>(total % 1000000000);
    return at;
}

bool Before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

}  // namespace

Chunk* ChunkQueue::take() {
    Chunk* chunk = ready_.pop();
    if (chunk != nullptr) {
        popped_.fetch_add(1, std::memory_order_relaxed);
        flowing_ = true;
    }
    return chunk;
}

std::unique_ptr<Chunk> ChunkQueue::pop(std::chrono::microseconds wait) {
    if (Chunk* chunk = take()) {
        return std::unique_ptr<Chunk>(chunk);
    }
    const int64_t waitNs = std::max<int64_t>(0, wait.count()) * 1000;
    const timespec deadline = MonotonicIn(waitNs);
    if (flowing_ && waitNs > 0 && !closed_.load(std::memory_order_acquire)) {
        // Trace flows: let the next chunks gather rather than wake for each.
        timespec gather = MonotonicIn(static_cast<int64_t>(kGatherMs) * 1000000);
        if (Before(deadline, gather)) {
            gather = deadline;
        }
        while (::sem_clockwait(&readySignal_, CLOCK_MONOTONIC, &gather) != 0 && errno == EINTR) {
        }
        if (Chunk* chunk = take()) {
            return std::unique_ptr<Chunk>(chunk);
        }
        flowing_ = false;
    }
    consumerIdle_.store(true, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    Chunk* chunk = nullptr;
    while (true) {
        // Closed is read before the ring: whatever was pushed before the close is seen then.
        const bool closed = closed_.load(std::memory_order_acquire);
        chunk = take();
        if (chunk != nullptr || closed || waitNs == 0) {
            break;
        }
        if (::sem_clockwait(&readySignal_, CLOCK_MONOTONIC, &deadline) != 0 && errno != EINTR) {
            chunk = take();  // timed out
            break;
        }
    }
    consumerIdle_.store(false, std::memory_order_relaxed);
    return std::unique_ptr<Chunk>(chunk);
}

void ChunkQueue::recycle(std::unique_ptr<Chunk> chunk) {
    if (!chunk || chunk->bytes.capacity() < chunkBytes_) {
        return;  // the loss carrier made by close(), or foreign
    }
    // Never full: it holds at most the maxChunks that exist.
    if (free_.push(chunk.get())) {
        static_cast<void>(chunk.release());  // the free list owns it now
    }
}

bool ChunkQueue::finished() const {
    return closed_.load(std::memory_order_acquire) && ready_.empty();
}

}  // namespace dravik::swv
