#include <gtest/gtest.h>

#include <thread>

#include "dravik/swv/ChunkQueue.h"

namespace dravik::swv {
namespace {

using std::chrono::microseconds;

std::unique_ptr<Chunk> filled(ChunkQueue& queue, uint8_t value, uint64_t timeUs) {
    std::unique_ptr<Chunk> chunk = queue.acquire();
    EXPECT_NE(chunk, nullptr);
    if (chunk) {
        EXPECT_EQ(chunk->bytes.size(), queue.chunkBytes());
        chunk->bytes.assign(3, value);
        chunk->timeUs = timeUs;
    }
    return chunk;
}

TEST(ChunkQueue, HandsChunksOverInOrder) {
    ChunkQueue queue(4, 16);
    queue.publish(filled(queue, 1, 10));
    queue.publish(filled(queue, 2, 20));
    std::unique_ptr<Chunk> first = queue.pop(microseconds(0));
    std::unique_ptr<Chunk> second = queue.pop(microseconds(0));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->bytes, std::vector<uint8_t>(3, 1));
    EXPECT_EQ(first->timeUs, 10u);
    EXPECT_EQ(second->bytes, std::vector<uint8_t>(3, 2));
    EXPECT_EQ(queue.pop(microseconds(0)), nullptr);
    EXPECT_FALSE(queue.finished());
}

// Across threads, as a capture uses it: a waiting consumer is woken by each chunk and by the
// close, and gets every chunk in order; the drainer reuses what comes back and what it put back.
TEST(ChunkQueue, AWaitingConsumerGetsEveryChunkInOrderAndTheClose) {
    constexpr unsigned kChunks = 500;
    ChunkQueue queue(4, 16);
    std::thread drainer([&] {
        for (unsigned n = 0; n < kChunks; ++n) {
            std::unique_ptr<Chunk> chunk;
            for (unsigned tries = 0; !chunk && tries < 100000000; ++tries) {
                chunk = queue.acquire();
                if (!chunk) {
                    std::this_thread::yield();
                }
            }
            ASSERT_NE(chunk, nullptr);
            if (n % 7 == 0) {  // a poll that found nothing
                queue.putBack(std::move(chunk));
                chunk = queue.acquire();
                ASSERT_NE(chunk, nullptr);
            }
            chunk->bytes.assign(1, static_cast<uint8_t>(n));
            chunk->timeUs = n;
            queue.publish(std::move(chunk));
        }
        queue.close();
    });
    std::vector<uint64_t> times;
    while (!queue.finished()) {
        if (std::unique_ptr<Chunk> chunk = queue.pop(std::chrono::seconds(1))) {
            EXPECT_EQ(chunk->bytes, std::vector<uint8_t>(1, static_cast<uint8_t>(chunk->timeUs)));
            times.push_back(chunk->timeUs);
            queue.recycle(std::move(chunk));
        }
    }
    drainer.join();
    ASSERT_EQ(times.size(), kChunks);
    for (unsigned n = 0; n < kChunks; ++n) {
        EXPECT_EQ(times[n], n);
    }
}

TEST(ChunkQueue, IsBoundedAndReusesWhatComesBack) {
    ChunkQueue queue(2, 16);
    std::unique_ptr<Chunk> a = queue.acquire();
    std::unique_ptr<Chunk> b = queue.acquire();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(queue.acquire(), nullptr);
    Chunk* reused = a.get();
    queue.recycle(std::move(a));
    std::unique_ptr<Chunk> c = queue.acquire();
    EXPECT_EQ(c.get(), reused);
    EXPECT_EQ(c->bytes.size(), 16u);
    EXPECT_EQ(queue.acquire(), nullptr);
}

TEST(ChunkQueue, LossesReachTheConsumerAheadOfTheNextChunk) {
    ChunkQueue queue(4, 16);
    queue.publish(filled(queue, 1, 10));
    Losses full;
    full.queueFullBytes = 4000;
    full.firstTimeUs = 15;
    queue.noteLosses(full);
    Losses refused;
    refused.probeDrops = 1;
    refused.firstTimeUs = 17;
    queue.noteLosses(refused);
    queue.publish(filled(queue, 2, 20));

    std::unique_ptr<Chunk> first = queue.pop(microseconds(0));
    EXPECT_FALSE(first->lossesBefore.any());
    std::unique_ptr<Chunk> second = queue.pop(microseconds(0));
    EXPECT_EQ(second->lossesBefore.queueFullBytes, 4000u);
    EXPECT_EQ(second->lossesBefore.probeDrops, 1u);
    EXPECT_EQ(second->lossesBefore.readFailures, 0u);
    EXPECT_EQ(second->lossesBefore.firstTimeUs, 15u);
}

TEST(ChunkQueue, ClosingDeliversLossesThatNoChunkFollowed) {
    ChunkQueue queue(1, 16);
    std::unique_ptr<Chunk> held = queue.acquire();  // the budget is used up
    Losses failure;
    failure.readFailures = 2;
    failure.firstTimeUs = 30;
    queue.noteLosses(failure);
    queue.close();
    std::unique_ptr<Chunk> last = queue.pop(microseconds(0));
    ASSERT_NE(last, nullptr);
    EXPECT_TRUE(last->bytes.empty());
    EXPECT_EQ(last->lossesBefore.readFailures, 2u);
    EXPECT_EQ(last->timeUs, 30u);
    EXPECT_TRUE(queue.finished());
    EXPECT_EQ(queue.pop(microseconds(0)), nullptr);
}

TEST(ChunkQueue, ClosedAndEmptyIsFinished) {
    ChunkQueue queue(2, 16);
    queue.publish(filled(queue, 1, 1));
    queue.close();
    EXPECT_FALSE(queue.finished());
    EXPECT_NE(queue.pop(microseconds(0)), nullptr);
    EXPECT_TRUE(queue.finished());
}

}  // namespace
}  // namespace dravik::swv
