#include <gtest/gtest.h>

#include "DravikTrace.h"
#include "ToolTestSupport.h"
#include "dravik/swv/TraceDrain.h"

namespace dravik::swv {
namespace {

using test::Bytes;
using test::FakeClock;
using test::FakeTraceInterface;
using test::SwvPoll;

// Runs the drainer on this thread; it stops once the script is used up.
class TraceDrainTest : public testing::Test {
  protected:
    void drainAll(size_t queueChunks = 64, DrainSink* sink = nullptr) {
        queue = std::make_unique<ChunkQueue>(queueChunks, TraceDrain::kReadBufferBytes);
        drain = std::make_unique<TraceDrain>(api, *queue, clock, PollInterval(4000, 200000),
                                             clock.nowUs());
        if (sink != nullptr) {
            drain->addSink(*sink);
        }
        stopAfter = api.polls.size();
        // The script has no end of its own: a stop request follows its last answer.
        api.polls.push_back(SwvPoll{});
        std::atomic<bool> done{false};
        std::thread stopper([&] {
            while (!done.load() && api.countCalls("DravikReadSWVData") <= stopAfter) {
                std::this_thread::yield();
            }
            drain->requestStop();
        });
        drain->run();
        done.store(true);
        stopper.join();
    }

    std::vector<std::unique_ptr<Chunk>> takeAll() {
        std::vector<std::unique_ptr<Chunk>> chunks;
        while (std::unique_ptr<Chunk> chunk = queue->pop(std::chrono::microseconds(0))) {
            chunks.push_back(std::move(chunk));
        }
        return chunks;
    }

    FakeTraceInterface api;
    FakeClock clock;
    std::unique_ptr<ChunkQueue> queue;
    std::unique_ptr<TraceDrain> drain;
    size_t stopAfter = 0;
};

TEST_F(TraceDrainTest, HandsOverEveryByteAndDrainsTheReceiverAfterStopping) {
    api.polls = {SwvPoll{0, {1, 2, 3}}, SwvPoll{}, SwvPoll{0, Bytes(4000, 7)},
                 SwvPoll{0, Bytes(3999, 8)}};
    api.pendingAtStop = {9, 9};
    drainAll();

    const std::vector<std::unique_ptr<Chunk>> chunks = takeAll();
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_EQ(chunks[0]->bytes, (Bytes{1, 2, 3}));
    EXPECT_EQ(chunks[1]->bytes, Bytes(4000, 7));
    EXPECT_EQ(chunks[2]->bytes, Bytes(3999, 8));
    EXPECT_EQ(chunks[3]->bytes, (Bytes{9, 9}));
    EXPECT_LE(chunks[0]->timeUs, chunks[1]->timeUs);
    EXPECT_TRUE(queue->finished());

    const DrainCounters counters = drain->counters();
    EXPECT_EQ(counters.bytes, 8004u);
    // Only the poll that found all the probe holds (DRAVIK_TRACE_BUFFER_SIZE) may follow a loss.
    EXPECT_EQ(counters.bufferFullPolls, 1u);
    EXPECT_EQ(counters.queueDropBytes, 0u);
    EXPECT_FALSE(drain->probeLost());
    EXPECT_FALSE(drain->stopFailure().has_value());
    // Every read offers room for all the probe can hold; the receiver is stopped once.
    for (const std::string& call : api.calls()) {
        if (call.rfind("DravikReadSWVData", 0) == 0) {
            EXPECT_EQ(call, "DravikReadSWVData(4096)");
        }
    }
    EXPECT_EQ(api.countCalls("DravikStopSWVRead"), 1u);
}

TEST_F(TraceDrainTest, APollNearlyFullWhileALongReadRanCountsAsFull) {
    // The line brings 200 bytes a millisecond; about half of a read's time lies between the
    // library's count of what is pending and its read of it.
    const struct {
        size_t bytes;
        uint64_t callUs;
        bool counted;
    } cases[] = {{3900, 0, false},   {3900, 2000, true}, {3700, 2000, false},
                 {3700, 6000, true}, {4000, 0, true},    {10, 100000, false}};
    uint64_t expected = 0;
    std::vector<uint64_t> callUs;
    for (const auto& c : cases) {
        api.polls.push_back(SwvPoll{0, Bytes(c.bytes, 5)});
        callUs.push_back(c.callUs);
        expected += c.counted ? 1 : 0;
    }
    api.beforePoll = [&](size_t index) {
        if (index < callUs.size()) {
            clock.advance(callUs[index]);
        }
    };
    drainAll();
    EXPECT_EQ(drain->counters().bufferFullPolls, expected);
}

TEST_F(TraceDrainTest, CountsRefusedReadsAndMarksTheGap) {
    api.polls = {SwvPoll{0, {1}}, SwvPoll{DRAVIK_REFUSED, {}, "Buffer is too small, data is lost"},
                 SwvPoll{0, {2}}};
    drainAll();
    const std::vector<std::unique_ptr<Chunk>> chunks = takeAll();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_FALSE(chunks[0]->lossesBefore.any());
    EXPECT_EQ(chunks[1]->lossesBefore.probeDrops, 1u);
    EXPECT_EQ(drain->counters().probeDrops, 1u);
    EXPECT_EQ(drain->counters().readFailures, 0u);
    // A refusal is not a failure of the probe.
    EXPECT_FALSE(drain->takeFirstReadFailure().has_value());
}

TEST_F(TraceDrainTest, AFullQueueDropsBytesButNeverStopsPolling) {
    api.polls = {SwvPoll{0, {1}}, SwvPoll{0, {2, 2}}, SwvPoll{0, {3, 3, 3}}};
    drainAll(1);  // one chunk, and nobody takes it until the end
    EXPECT_EQ(drain->counters().queueDropBytes, 5u);
    EXPECT_EQ(drain->counters().bytes, 6u);
    const std::vector<std::unique_ptr<Chunk>> chunks = takeAll();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0]->bytes, (Bytes{1}));
    // The losses come out at the close, on a chunk of their own.
    EXPECT_TRUE(chunks[1]->bytes.empty());
    EXPECT_EQ(chunks[1]->lossesBefore.queueFullBytes, 5u);
}

// What a sink saw, as "data 1 2" and "gap 2" lines.
class LoggingSink final : public DrainSink {
  public:
    void data(uint64_t, const uint8_t* bytes, size_t size) override {
        std::string line = "data";
        for (size_t i = 0; i < size; ++i) {
            line += " " + std::to_string(bytes[i]);
        }
        log.push_back(line);
    }
    void gap(uint64_t, GapCause cause) override {
        log.push_back("gap " + std::to_string(static_cast<int>(cause)));
    }
    std::vector<std::string> log;
};

TEST_F(TraceDrainTest, SinksGetEveryReadAndEveryLossWhateverTheQueueDrops) {
    LoggingSink sink;
    api.polls = {SwvPoll{0, {1}}, SwvPoll{0, {2, 2}},
                 SwvPoll{DRAVIK_REFUSED, {}, "Buffer is too small, data is lost"},
                 SwvPoll{3, {}, "Unable to read SWV records, status: 3"}, SwvPoll{0, {3}}};
    api.pendingAtStop = {4};
    drainAll(1, &sink);
    EXPECT_EQ(sink.log, (std::vector<std::string>{"data 1", "data 2 2", "gap 2", "gap 3", "data 3",
                                                  "data 4"}));
    EXPECT_EQ(drain->counters().queueDropBytes, 4u);  // one chunk, and nobody took it
}

TEST_F(TraceDrainTest, GivesUpAfterReadsKeepFailing) {
    for (unsigned i = 0; i < TraceDrain::kMaxConsecutiveFailures; ++i) {
        api.polls.push_back(SwvPoll{3, {}, "Unable to read SWV records, status: 3"});
    }
    drainAll();
    EXPECT_TRUE(drain->probeLost());
    EXPECT_EQ(drain->counters().readFailures, TraceDrain::kMaxConsecutiveFailures);
    // A gone probe is not asked to stop.
    EXPECT_EQ(api.countCalls("DravikStopSWVRead"), 0u);
    std::optional<CallFailure> failure = drain->takeFirstReadFailure();
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->function, "DravikReadSWVData");
    EXPECT_EQ(failure->code, 3);
    EXPECT_EQ(failure->step, "DravikReadSWVData - Called");
    EXPECT_EQ(failure->error, "Unable to read SWV records, status: 3");
    // Reported once.
    EXPECT_FALSE(drain->takeFirstReadFailure().has_value());
    const std::vector<std::unique_ptr<Chunk>> chunks = takeAll();
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0]->lossesBefore.readFailures, TraceDrain::kMaxConsecutiveFailures);
}

TEST_F(TraceDrainTest, AFailureBetweenGoodReadsIsCountedAndTheCaptureGoesOn) {
    api.polls = {SwvPoll{3, {}, "Unable to read SWV records, status: 3"}, SwvPoll{0, {5}}};
    drainAll();
    EXPECT_FALSE(drain->probeLost());
    EXPECT_EQ(drain->counters().readFailures, 1u);
    EXPECT_EQ(api.countCalls("DravikStopSWVRead"), 1u);
}

TEST_F(TraceDrainTest, KeepsTheFailedStop) {
    api.stopResult = 19;
    drainAll();
    std::optional<CallFailure> failure = drain->stopFailure();
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->function, "DravikStopSWVRead");
    EXPECT_EQ(failure->code, 19);
}

}  // namespace
}  // namespace dravik::swv
