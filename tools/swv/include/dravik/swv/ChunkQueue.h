// The bounded hand-over between the thread that drains the probe and the one that decodes and
// writes. The drainer never waits on it: when every chunk is in use it keeps reading (so the
// probe's buffer does not overflow) and reports the bytes it had to drop as a loss, which reaches
// the consumer ahead of the next chunk that fits, so a gap is always visible where it happened.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

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

    // --- the draining thread ---
    // A free chunk sized for one read, or null when all maxChunks are in use.
    std::unique_ptr<Chunk> acquire();
    void publish(std::unique_ptr<Chunk> chunk);
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

  private:
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    size_t maxChunks_;
    size_t chunkBytes_;
    size_t allocated_ = 0;
    std::vector<std::unique_ptr<Chunk>> free_;
    std::deque<std::unique_ptr<Chunk>> queued_;
    Losses pending_;
    bool closed_ = false;
};

}  // namespace dravik::swv
