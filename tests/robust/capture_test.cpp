// The whole capture without faults, end to end through the exported functions. This is also the
// test the memory checker runs (.ci/run).
#include <gtest/gtest.h>

#include "CaptureRun.h"
#include "DravikBench/Bench.h"
#include "DravikTrace.h"
#include "SteppedWallClock.h"

namespace dravik::test {
namespace {

constexpr const char* kSerial = "DRAVIK-BENCH-0001";

class CaptureTest : public ::testing::Test {
  protected:
    void SetUp() override { FreshCaptureBench(true); }
    void TearDown() override {
        DravikCloseDevice();
        sim::bench().reset();
    }
    SteppedWallClock clock_;
};

TEST_F(CaptureTest, DeliversEveryByteAndLeavesNothingBehind) {
    CaptureRun run(kSerial);
    run.run();
    EXPECT_EQ("", run.cleanCaptureProblems());
    EXPECT_EQ(nullptr, g_dev) << "closed: no device object";
    EXPECT_EQ(nullptr, g_currentDevice) << "closed: no selection";
    EXPECT_EQ(1u, sim::bench().freeLibraryCalls()) << "the driver library released once";
    const sim::SimProbe& probe = sim::bench().probe(0);
    EXPECT_EQ(0u, probe.state.openHandles) << "the probe was closed";
    EXPECT_FALSE(probe.swv().running()) << "the receiver was stopped";
    EXPECT_EQ(sim::kModeIdle, probe.state.mode) << "debug mode was left";
}

TEST_F(CaptureTest, ASecondCaptureInTheSameProcessDoesTheSame) {
    CaptureRun first(kSerial);
    first.run();
    ASSERT_EQ("", first.cleanCaptureProblems());
    CaptureRun second(kSerial);
    second.run();
    EXPECT_EQ("", second.cleanCaptureProblems());
}

}  // namespace
}  // namespace dravik::test
