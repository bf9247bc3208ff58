#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "dravik/swv/SinkThread.h"

namespace dravik::swv {
namespace {

// Logs each call as "data 1 2" or "gap 3 @time"; the first call waits until released.
class HeldSink final : public DrainSink {
  public:
    void data(uint64_t timeUs, const uint8_t* bytes, size_t size) override {
        hold();
        std::string line = "data@" + std::to_string(timeUs);
        for (size_t i = 0; i < size; ++i) {
            line += " " + std::to_string(bytes[i]);
        }
        log.push_back(line);
    }
    void gap(uint64_t timeUs, GapCause cause) override {
        hold();
        log.push_back("gap@" + std::to_string(timeUs) + " " +
                      std::to_string(static_cast<int>(cause)));
    }
    void hold() {
        if (log.empty()) {
            held.set_value();
            release.wait();
        }
    }

    std::promise<void> held;
    std::shared_future<void> release;
    std::vector<std::string> log;  // the writer thread's until finish()
};

// The writer is held on its first call while many more are handed over: none waits for it, none
// is lost, and they reach the sink in order once it goes on.
TEST(SinkThread, HandsEveryCallOverInOrderWithoutWaitingForTheWriter) {
    HeldSink sink;
    std::promise<void> release;
    sink.release = release.get_future().share();
    std::vector<std::string> expected;
    {
        SinkThread thread(sink);
        thread.start();
        const uint8_t first[] = {1, 2};
        thread.data(0, first, sizeof first);
        expected.push_back("data@0 1 2");
        sink.held.get_future().wait();
        for (uint64_t i = 1; i <= 3000; ++i) {
            if (i % 1000 == 0) {
                thread.gap(i, GapCause::ProbeDropped);
                expected.push_back("gap@" + std::to_string(i) + " 2");
            } else {
                const uint8_t bytes[] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)};
                thread.data(i, bytes, sizeof bytes);
                expected.push_back("data@" + std::to_string(i) + " " + std::to_string(bytes[0]) +
                                   " " + std::to_string(bytes[1]));
            }
        }
        EXPECT_GE(thread.mostWaiting(), 3000u);
        release.set_value();
        thread.finish();
        EXPECT_EQ(sink.log, expected);

        // Started again, it reuses the nodes written and still keeps the order.
        sink.log.clear();
        sink.held = std::promise<void>();
        thread.start();
        const uint8_t again[] = {9};
        thread.data(5, again, sizeof again);
    }
    EXPECT_EQ(sink.log, (std::vector<std::string>{"data@5 9"}));
}

}  // namespace
}  // namespace dravik::swv
