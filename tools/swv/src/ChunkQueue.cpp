#include "dravik/swv/ChunkQueue.h"

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
    : maxChunks_(maxChunks == 0 ? 1 : maxChunks), chunkBytes_(chunkBytes) {}

std::unique_ptr<Chunk> ChunkQueue::acquire() {
    std::unique_ptr<Chunk> chunk;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!free_.empty()) {
            chunk = std::move(free_.back());
            free_.pop_back();
        } else if (allocated_ < maxChunks_) {
            ++allocated_;  // allocated outside the lock below
        } else {
            return nullptr;
        }
    }
    if (!chunk) {
        chunk = std::make_unique<Chunk>();
        chunk->bytes.reserve(chunkBytes_);
    }
    chunk->bytes.resize(chunkBytes_);
    chunk->timeUs = 0;
    chunk->lossesBefore = Losses{};
    return chunk;
}

void ChunkQueue::publish(std::unique_ptr<Chunk> chunk) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        chunk->lossesBefore = pending_;
        pending_ = Losses{};
        queued_.push_back(std::move(chunk));
    }
    ready_.notify_one();
}

void ChunkQueue::noteLosses(const Losses& losses) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.add(losses);
}

void ChunkQueue::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pending_.any()) {
            // Outside the chunk budget: the consumer must hear of these losses.
            auto chunk = std::make_unique<Chunk>();
            chunk->timeUs = pending_.firstTimeUs;
            chunk->lossesBefore = pending_;
            pending_ = Losses{};
            queued_.push_back(std::move(chunk));
        }
        closed_ = true;
    }
    ready_.notify_all();
}

std::unique_ptr<Chunk> ChunkQueue::pop(std::chrono::microseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait_for(lock, wait, [&] { return !queued_.empty() || closed_; });
    if (queued_.empty()) {
        return nullptr;
    }
    std::unique_ptr<Chunk> chunk = std::move(queued_.front());
    queued_.pop_front();
    return chunk;
}

void ChunkQueue::recycle(std::unique_ptr<Chunk> chunk) {
    if (!chunk || chunk->bytes.capacity() < chunkBytes_) {
        return;  // the loss carrier made by close(), or foreign
    }
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(std::move(chunk));
}

bool ChunkQueue::finished() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_ && queued_.empty();
}

}  // namespace dravik::swv
