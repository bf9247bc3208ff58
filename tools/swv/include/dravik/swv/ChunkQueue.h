// The bounded hand-over between the thread that drains the probe and the one that decodes and
// writes. The drainer never waits on it: when every chunk is in use it keeps reading (so the
// probe's buffer does not overflow) and reports the bytes it had to drop as a loss, which reaches
// the consumer ahead of the next chunk that fits, so a gap is always visible where it happened.
// The two sides share no lock (chunks travel through two lock-free rings, and a semaphore, whose
// post never blocks, wakes the consumer), so the drainer cannot be held up by a consumer that lost
// its core at the wrong moment. A wake-up costs more CPU than decoding a poll's bytes, so while
// trace flows the consumer takes what gathered every kGatherMs (or at kWakeBatch chunks) instead of
// being woken for each chunk; once a gathering brings nothing it is woken by the next one.
#pragma once

#include <semaphore.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "dravik/swv/SpscRing.h"

namespace dravik::swv {

// Losses noticed before a chunk.
struct Losses {
    uint64_t queueFullBytes = 0;  // dropped here because the queue was full
    uint64_t probeDrops = 0;      // reads the library answered with 403 (data discarded)
    uint64_t readFailures = 0;    // reads that failed
    uint64_t firstTimeUs = 0;     // when the first of them happened

    bool any() const { return queueFullBytes != 0 || probeDrops != 0 || readFailures != 0; }
    void add(const Losses& other);
};

struct Chunk {
    std::vector<uint8_t> bytes;  // capacity() == the queue's chunk size; size() == bytes read
    uint64_t timeUs = 0;         // host time of the read
    Losses lossesBefore;
};

class ChunkQueue {
  public:
    ChunkQueue(size_t maxChunks, size_t chunkBytes);
    ~ChunkQueue();
    ChunkQueue(const ChunkQueue&) = delete;
    ChunkQueue& operator=(const ChunkQueue&) = delete;

    // --- the draining thread ---
    // A free chunk sized for one read, or null when all maxChunks are in use.
    std::unique_ptr<Chunk> acquire();
    void publish(std::unique_ptr<Chunk> chunk);
    // A chunk from acquire() that is not published after all.
    void putBack(std::unique_ptr<Chunk> chunk);
    void noteLosses(const Losses& losses);
    // No more chunks. Losses not yet attached come out on an empty chunk.
    void close();

    // --- the consuming thread ---
    // The next chunk, waiting up to `wait`; null on time-out or when closed and empty.
    std::unique_ptr<Chunk> pop(std::chrono::microseconds wait);
    // Gives a chunk back for reuse.
    void recycle(std::unique_ptr<Chunk> chunk);
    // Closed, and everything published has been popped.
    bool finished() const;

    size_t chunkBytes() const { return chunkBytes_; }
    size_t maxChunks() const { return maxChunks_; }

    // Chunks made ready before the capture, so that the draining thread does not allocate while
    // the consumer keeps up.
    static constexpr size_t kReserveChunks = 64;
    static constexpr unsigned kGatherMs = 10;
    static constexpr size_t kWakeBatch = 64;

  private:
    Chunk* makeChunk();
    Chunk* take();  // the consumer's side of the ring

    size_t maxChunks_;
    size_t chunkBytes_;
    SpscRing<Chunk> ready_;  // drainer to consumer; one more for close()'s loss carrier
    SpscRing<Chunk> free_;   // consumer to drainer
    sem_t readySignal_;      // posted for each chunk made ready, and at the close
    std::atomic<bool> closed_{false};
    std::atomic<bool> consumerIdle_{false};  // waiting to be posted
    std::atomic<size_t> popped_{0};
    // The consumer's own: the last pop found a chunk.
    bool flowing_ = false;
    // The draining thread's own.
    size_t published_ = 0;
    size_t allocated_ = 0;
    std::unique_ptr<Chunk> spare_;  // put back, handed out again first
    Losses pending_;
};

}  // namespace dravik::swv
