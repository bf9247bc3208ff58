// Debug register words, DAP registers and the last read/write status query: the records sent, the
// firmware gates, and what the bench's probe and target model make of them.
#include <gtest/gtest.h>

#include "TargetFixture.h"

namespace dravik::test {
namespace {

using sim::ScriptedAnswer;

class DebugRegistersTest : public TargetTest {};

TEST_F(DebugRegistersTest, WordsGoToTheTargetAndBack) {
    DbgDev& dev = Connect();
    EXPECT_EQ(0, dev.WriteDebugRegister(armv7m::kDemcr, 0x01000001, 0));
    unsigned value = 0;
    EXPECT_EQ(0, dev.ReadDebugRegister(armv7m::kDemcr, &value, 0));
    EXPECT_EQ(0x01000001u, value);
    EXPECT_EQ(0x01000001u, Target().demcr());
    EXPECT_TRUE(SentExactly({DebugWrite(armv7m::kDemcr, 0x01000001), DebugRead(armv7m::kDemcr)}));
    EXPECT_TRUE(RecordsWellFormed(bench().log()));
}

TEST_F(DebugRegistersTest, OnlyTheLowByteOfTheAccessPortIndexIsSent) {
    DbgDev& dev = Connect();
    EXPECT_EQ(0, dev.WriteDebugRegister(0x20000010, 0xAABBCCDD, 256));
    unsigned value = 0;
    EXPECT_EQ(0, dev.ReadDebugRegister(0x20000010, &value, 0x101));
    EXPECT_EQ(0xAABBCCDDu, value);
    EXPECT_TRUE(SentExactly({
        In({0xF2, 0x35, 0x10, 0x00, 0x00, 0x20, 0xDD, 0xCC, 0xBB, 0xAA, 0x00}, 2),
        In({0xF2, 0x36, 0x10, 0x00, 0x00, 0x20, 0x01}, 8),
    }));
}

TEST_F(DebugRegistersTest, NullValueIsRefusedBeforeSending) {
    DbgDev& dev = Connect();
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.ReadDebugRegister(armv7m::kDhcsr, nullptr, 0));
    EXPECT_EQ("NULL pointer in ReadDebugRegister", log_.last());
    EXPECT_TRUE(bench().log().empty());
}

// The bench answers a refused bus access with the access port fault status 0x0011.
TEST_F(DebugRegistersTest, BusFaultIsAnAccessPortFault) {
    DbgDev& dev = Connect();
    unsigned value = 0xCAFEF00D;
    EXPECT_EQ(DBGDEV_AP_FAULT, dev.ReadDebugRegister(0x40000000, &value, 0));
    EXPECT_EQ(0xCAFEF00Du, value);
    EXPECT_EQ("Access Port fault: 0x11", log_.last());
    // Flash is read-only to the bus; a misaligned word faults too.
    EXPECT_EQ(DBGDEV_AP_FAULT, dev.WriteDebugRegister(0x08000000, 1, 0));
    EXPECT_EQ(DBGDEV_AP_FAULT, dev.ReadDebugRegister(0x20000002, &value, 0));
}

TEST_F(DebugRegistersTest, ProbeRefusesOutsideDebugModeAndBadAccessPorts) {
    sim::ProbeConfig config = DebugProbe();
    config.initialMode = sim::kModeIdle;
    DbgDev& dev = Connect(config);
    unsigned value = 0;
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.ReadDebugRegister(armv7m::kDhcsr, &value, 0));
    EXPECT_EQ("Error (0x83) after target cmd F2 36 F0 ED 00 E0 00 00 00 00", log_.last());

    bench().probe(0).state.mode = sim::kModeDebug;
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.ReadDebugRegister(armv7m::kDhcsr, &value, 2));
    EXPECT_EQ("Incorrect Access Port index", log_.last());
    EXPECT_EQ(0, dev.ReadDebugRegister(armv7m::kDhcsr, &value, 1));
}

class DapRegistersTest : public TargetTest {};

TEST_F(DapRegistersTest, RecordsAndTheProbesRegisterFile) {
    DbgDev& dev = Connect();
    unsigned value = 0;
    EXPECT_EQ(0, dev.WriteDapRegister(1, 0x0004, 0x23000052));
    EXPECT_EQ(0, dev.ReadDapRegister(1, 0x0004, &value));
    EXPECT_EQ(0x23000052u, value);
    // The bench's debug port answers on port 0xFFFF; its identification registers are read-only.
    EXPECT_EQ(0, dev.WriteDapRegister(-1, 0x0000, 0x1E));
    EXPECT_EQ(0, dev.ReadDapRegister(-1, 0x0000, &value));
    EXPECT_EQ(0x2BA01477u, value);
    EXPECT_EQ(0, dev.ReadDapRegister(0, 0x00FC, &value));
    EXPECT_EQ(0x24770011u, value);
    EXPECT_TRUE(SentExactly({
        In({0xF2, 0x46, 0x01, 0x00, 0x04, 0x00, 0x52, 0x00, 0x00, 0x23}, 2),
        In({0xF2, 0x45, 0x01, 0x00, 0x04, 0x00}, 8),
        In({0xF2, 0x46, 0xFF, 0xFF, 0x00, 0x00, 0x1E, 0x00, 0x00, 0x00}, 2),
        In({0xF2, 0x45, 0xFF, 0xFF, 0x00, 0x00}, 8),
        In({0xF2, 0x45, 0x00, 0x00, 0xFC, 0x00}, 8),
    }));
}

TEST_F(DapRegistersTest, FailedReadLeavesTheValue) {
    DbgDev& dev = Connect();
    unsigned value = 7;
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.ReadDapRegister(9, 0x0000, &value));
    EXPECT_EQ("Incorrect Access Port index", log_.last());
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.ReadDapRegister(0, 0x0102, &value));
    EXPECT_EQ(7u, value);
}

TEST_F(DapRegistersTest, NullPointerIsTestedBeforeTheFirmwareGate) {
    DbgDev& dev = Connect(DebugProbe(2, 23));
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.ReadDapRegister(0, 0, nullptr));
    EXPECT_TRUE(log_.lines().empty());
    unsigned value = 5;
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.ReadDapRegister(0, 0, &value));
    EXPECT_EQ(
        "The detected Orvane firmware version (V2.J23) does not support the DAP read command.",
        log_.last());
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.WriteDapRegister(0, 0, 1));
    EXPECT_EQ(
        "The detected Orvane firmware version (V2.J23) does not support the DAP write command.",
        log_.last());
    EXPECT_EQ(5u, value);
    EXPECT_TRUE(bench().log().empty());
}

class LastRwStatusTest : public TargetTest {};

TEST_F(LastRwStatusTest, ShortFormOnOldFirmwareGivesZero) {
    DbgDev& dev = Connect(DebugProbe(2, 14));
    bench().script(ScriptedAnswer::Status(0x0080, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));
    unsigned rwStatus = 0xFFFFFFFF;
    EXPECT_EQ(0, dev.GetLastReadWriteStatus(&rwStatus));
    EXPECT_EQ(0u, rwStatus);
    EXPECT_TRUE(SentExactly({In({0xF2, 0x3B}, 2)}));
}

TEST_F(LastRwStatusTest, LongFormHandsOverItsWordWhateverTheResult) {
    DbgDev& dev = Connect();
    bench().script(ScriptedAnswer::Status(0x0081, {0, 0, 0x78, 0x56, 0x34, 0x12, 9, 9, 9, 9}));
    unsigned rwStatus = 0;
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.GetLastReadWriteStatus(&rwStatus));
    EXPECT_EQ(0x12345678u, rwStatus);
    EXPECT_EQ(0, dev.GetLastReadWriteStatus(nullptr));
    EXPECT_TRUE(SentExactly({In({0xF2, 0x3E}, 12), In({0xF2, 0x3E}, 12)}));

    // A failed exchange delivers nothing: the word is the zeroed buffer's.
    bench().script(ScriptedAnswer::Transport(sim::drv::kFailure));
    rwStatus = 0xFFFFFFFF;
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.GetLastReadWriteStatus(&rwStatus));
    EXPECT_EQ(0u, rwStatus);
}

}  // namespace
}  // namespace dravik::test
