// The bench's binding of a target model to each probe, and how its firmware answers target
// commands that the system would not send: no model, lacking firmware, malformed records.
#include <gtest/gtest.h>

#include <initializer_list>

#include "TargetFixture.h"

namespace dravik::test {
namespace {

using BenchTargetTest = TargetTest;

TEST_F(BenchTargetTest, EachProbeOwnsItsModelWhenATargetIsAttached) {
    sim::ProbeConfig config = DebugProbe();
    config.target.sram = {0x20000000, 0x4000};
    UseProbe(config);
    config.serial = "DRAVIK-BENCH-0002";
    config.targetAttached = false;
    bench().addProbe(config);
    config.serial = "DRAVIK-BENCH-0003";
    config.targetAttached = true;
    config.target.sram.size = 3;  // rejected
    bench().addProbe(config);

    ASSERT_NE(nullptr, bench().probe(0).target());
    EXPECT_EQ(0x4000u, bench().probe(0).target()->config().sram.size);
    EXPECT_TRUE(bench().probe(0).targetError().empty());
    EXPECT_EQ(nullptr, bench().probe(1).target());
    EXPECT_TRUE(bench().probe(1).targetError().empty());
    EXPECT_EQ(nullptr, bench().probe(2).target());
    EXPECT_EQ("sram: base and size must be non-zero multiples of 4",
              bench().probe(2).targetError());
}

TEST_F(BenchTargetTest, PowerCycleGivesTheTargetAPowerOnReset) {
    DbgDev& dev = Connect();
    ASSERT_EQ(0, dev.WriteDebugRegister(armv7m::kDemcr, 0x01000001, 0));
    const unsigned resets = Target().resetCount();
    bench().probe(0).powerCycle();
    EXPECT_EQ(resets + 1, Target().resetCount());
    EXPECT_EQ(sim::ResetKind::PowerOn, Target().lastResetKind());
    EXPECT_EQ(0u, Target().demcr());
}

TEST_F(BenchTargetTest, ExchangesHandTheBenchTimeToTheModel) {
    DbgDev& dev = Connect();
    bench().clock.advance(12345);
    unsigned value = 0;
    ASSERT_EQ(0, dev.ReadDebugRegister(armv7m::kDhcsr, &value, 0));
    EXPECT_EQ(bench().clock.nowUs(), Target().nowUs());
}

TEST_F(BenchTargetTest, ProbeWithARejectedTargetReportsNoTarget) {
    sim::ProbeConfig config = DebugProbe();
    config.target.fpb.revision = 3;
    DbgDev& dev = Connect(config);
    unsigned value = 0;
    EXPECT_EQ(DBGDEV_NO_TARGET, dev.ReadDebugRegister(armv7m::kDhcsr, &value, 0));
    EXPECT_EQ("No target device detected: check JTAG signals", log_.last());
    uint8_t buffer[4] = {};
    EXPECT_EQ(DBGDEV_NO_TARGET, dev.ReadMemory_32Bit(0x20000000, buffer, 4, nullptr, 0));
    // The reset line is the probe's own: it answers without a target behind it.
    EXPECT_EQ(0, dev.TargetHardReset(0));
}

TEST_F(BenchTargetTest, FirmwareWithoutACommandLeavesTheDataSentAlone) {
    DbgDev& dev = Connect(DebugProbe(2, 14));  // no 16-bit memory, no FPU registers
    uint8_t data[2] = {0x12, 0x34};
    EXPECT_EQ(0, SendRaw(dev, {0xF2, 0x48, 0x00, 0x00, 0x00, 0x20, 0x02}, 0, data, 2, false));
    EXPECT_EQ(0x12, data[0]);
    EXPECT_EQ(0x34, data[1]);
    uint8_t answer[8] = {};
    EXPECT_EQ(DBGDEV_PROBE_ERROR, SendRaw(dev, {0xF2, 0x3D}, 1, answer, 8, true));
    EXPECT_TRUE(log_.last().rfind("Error (0x82) after target cmd F2 3D", 0) == 0) << log_.last();
}

TEST_F(BenchTargetTest, DataPhaseShorterThanTheSizeFieldFailsTheTransport) {
    DbgDev& dev = Connect();
    uint8_t buffer[4] = {};
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE,
              SendRaw(dev, {0xF2, 0x07, 0x00, 0x00, 0x00, 0x20, 0x08}, 1, buffer, 4, false));
    EXPECT_EQ(sim::drv::kBadRecord, bench().log().back().result);
}

}  // namespace
}  // namespace dravik::test
