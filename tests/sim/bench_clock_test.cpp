// The bench clock's exchange latency: what each simulated exchange adds to the clock, the jitter
// sequence, and the real-time waits.
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <cstring>
#include <set>
#include <vector>

#include "DbgDevFixture.h"
#include "DravikUSBDriver.h"
#include "target/CortexM.h"

namespace dravik::test {
namespace {

using sim::LatencyWait;
using sim::ScriptedAnswer;

class BenchClockTest : public BenchTest {
  protected:
    void SetUp() override {
        BenchTest::SetUp();
        ASSERT_EQ(1u, Dravik_Reenumerate(DRAVIK_USB_INTERFACE, 0));
        ASSERT_EQ(1u, Dravik_OpenDevice(DRAVIK_USB_INTERFACE, 0, 0, &handle_));
        std::memset(&modeQuery_, 0, sizeof modeQuery_);
        modeQuery_.cdbLength = 10;
        modeQuery_.cdb[0] = 0xF5;
        modeQuery_.direction = DRAVIK_DIR_FROM_PROBE;
        modeQuery_.buffer = answer_;
        modeQuery_.bufferLength = sizeof answer_;
        modeQuery_.senseLength = 14;
    }
    void TearDown() override {
        Dravik_CloseDevice(handle_);
        BenchTest::TearDown();
    }

    // The bench clock's advance over one mode query.
    uint64_t ExchangeStep() {
        const uint64_t before = bench().clock.nowUs();
        EXPECT_EQ(1u, Dravik_SendCommand(handle_, &modeQuery_, 5000));
        return bench().clock.nowUs() - before;
    }
    std::vector<uint64_t> ExchangeSteps(size_t n) {
        std::vector<uint64_t> steps;
        for (size_t i = 0; i < n; ++i) {
            steps.push_back(ExchangeStep());
        }
        return steps;
    }

    void* handle_ = nullptr;
    TDeviceRequest modeQuery_;
    uint8_t answer_[2] = {};
};

TEST_F(BenchClockTest, EverySimulatedExchangeAdvancesTheManualClockByTheLatency) {
    EXPECT_EQ(0u, ExchangeStep()) << "no latency by default";
    bench().clock.setExchangeLatencyUs(125);
    EXPECT_EQ((std::vector<uint64_t>{125, 125, 125}), ExchangeSteps(3));
    bench().script(ScriptedAnswer::Bytes({0x01, 0x00}));
    EXPECT_EQ(0u, ExchangeStep()) << "a scripted answer does not reach the simulation";
    EXPECT_EQ(125u, ExchangeStep());
}

TEST_F(BenchClockTest, JitterAddsZeroToItsBoundAndRepeatsForTheSameSeed) {
    bench().clock.setExchangeLatencyUs(100);
    bench().clock.setExchangeJitterUs(20, 7);
    const std::vector<uint64_t> steps = ExchangeSteps(64);
    std::set<uint64_t> distinct;
    for (uint64_t step : steps) {
        EXPECT_GE(step, 100u);
        EXPECT_LE(step, 120u);
        distinct.insert(step);
    }
    EXPECT_GE(distinct.size(), 10u) << "the extra must vary";
    EXPECT_LE(*distinct.begin(), 102u);
    EXPECT_GE(*distinct.rbegin(), 118u);

    bench().clock.setExchangeJitterUs(20, 7);
    EXPECT_EQ(steps, ExchangeSteps(64)) << "the seed restarts the sequence";
    bench().clock.setExchangeJitterUs(20, 8);
    EXPECT_NE(steps, ExchangeSteps(64));
    bench().clock.setExchangeJitterUs(0);
    EXPECT_EQ((std::vector<uint64_t>{100, 100}), ExchangeSteps(2));
}

// The probe acts on a command after half the latency and part of the jitter: its target sees a
// time inside the round trip, at a point that varies with the jitter.
TEST_F(BenchClockTest, TheProbeActsInsideTheRoundTrip) {
    bench().clock.setExchangeLatencyUs(125);
    bench().clock.setExchangeJitterUs(40, 3);
    const sim::CortexM& target = *bench().probe(0).target();
    std::set<uint64_t> outbound;
    for (int i = 0; i < 64; ++i) {
        const uint64_t before = bench().clock.nowUs();
        const uint64_t step = ExchangeStep();
        const uint64_t acted = target.nowUs() - before;
        EXPECT_GE(acted, 62u);
        EXPECT_LE(acted, step - 63);
        outbound.insert(acted);
    }
    EXPECT_GE(outbound.size(), 10u);
    bench().clock.setExchangeJitterUs(0);
    const uint64_t before = bench().clock.nowUs();
    EXPECT_EQ(125u, ExchangeStep());
    EXPECT_EQ(before + 62, target.nowUs());
}

TEST_F(BenchClockTest, SeedZeroStillJitters) {
    bench().clock.setExchangeJitterUs(50, 0);
    const std::vector<uint64_t> steps = ExchangeSteps(16);
    EXPECT_GT(std::set<uint64_t>(steps.begin(), steps.end()).size(), 1u);
}

TEST_F(BenchClockTest, ResetForgetsLatencyJitterAndWait) {
    bench().clock.setExchangeLatencyUs(125);
    bench().clock.setExchangeJitterUs(10, 3);
    bench().clock.setLatencyWait(LatencyWait::Precise);
    bench().clock.setSleepSpinUs(40);
    bench().reset();
    EXPECT_EQ(0u, bench().clock.exchangeLatencyUs());
    EXPECT_EQ(0u, bench().clock.exchangeJitterUs());
    EXPECT_EQ(LatencyWait::Sleep, bench().clock.latencyWait());
    EXPECT_EQ(sim::BenchClock::kDefaultSleepSpinUs, bench().clock.sleepSpinUs());
    EXPECT_FALSE(bench().clock.manual());
}

// Only the lower bound: a real-time exchange never ends before its latency has passed.
TEST_F(BenchClockTest, RealTimeExchangesWaitAtLeastTheLatencyInEitherWaitMode) {
    bench().clock.setManual(false);
    bench().clock.setExchangeLatencyUs(300);
    for (uint64_t spinUs : {0, 50, 400}) {
        for (LatencyWait wait : {LatencyWait::Sleep, LatencyWait::Precise}) {
            bench().clock.setLatencyWait(wait);
            bench().clock.setSleepSpinUs(spinUs);
            EXPECT_GE(ExchangeStep(), 300u) << static_cast<int>(wait) << ", spin " << spinUs;
        }
    }
}

// A sleeping exchange narrows the timer slack while it waits; the caller's thread gets its own
// back.
TEST_F(BenchClockTest, ASleepingExchangeLeavesTheCallersTimerSlackAsItWas) {
    const int original = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    ASSERT_EQ(0, ::prctl(PR_SET_TIMERSLACK, 123456, 0, 0, 0));
    bench().clock.setManual(false);
    bench().clock.setExchangeLatencyUs(200);
    ExchangeStep();
    EXPECT_EQ(123456, ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0));
    ::prctl(PR_SET_TIMERSLACK, original, 0, 0, 0);
}

}  // namespace
}  // namespace dravik::test
