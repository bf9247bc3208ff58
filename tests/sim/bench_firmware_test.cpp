// The bench's simulated firmware, reached through a device object's transport: what it answers to
// commands its firmware lacks, refuses or takes only in some modes, the version word it sends, the
// frequency list it caps, and the fault address it keeps for the last transfer.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TargetFixture.h"

namespace dravik::test {
namespace {

using List = std::vector<unsigned>;

class BenchFirmwareTest : public TargetTest {
  protected:
    // The bench holding one probe of generation `v` with debug firmware `j` in `mode`, opened.
    DbgDev& OpenOn(uint8_t v, uint8_t j, uint8_t mode = sim::kModeIdle) {
        dev_.reset();
        UseProbe(TestProbe(v, j).mode(mode));
        return OpenDevice();
    }
    sim::SimProbe& probe() { return bench().probe(0); }
    // The status word the bench answers to one raw command (the device object's gates bypassed).
    static uint16_t Status(DbgDev& dev, const std::vector<uint8_t>& cdb, uint32_t length) {
        uint8_t answer[52] = {};
        EXPECT_EQ(0, SendRaw(dev, cdb, DRAVIK_DIR_FROM_PROBE, answer, length, false));
        return uint16_t(answer[0] | answer[1] << 8);
    }
};

TEST_F(BenchFirmwareTest, ClockCommandsOnlyWhereTheFirmwareHasThem) {
    const struct {
        uint8_t v, j, mode;
        std::vector<uint8_t> cdb;
        uint32_t length;
        uint16_t status;
    } rows[] = {
        {2, 22, sim::kModeIdle, {0xF2, 0x43, 0x01, 0x00}, 2, 0x0080},
        {2, 21, sim::kModeIdle, {0xF2, 0x43, 0x01, 0x00}, 2, 0x0082},
        {2, 23, sim::kModeIdle, {0xF2, 0x44, 0x20, 0x00}, 2, 0x0082},
        {2, 24, sim::kModeIdle, {0xF2, 0x44, 0x20, 0x00}, 2, 0x0080},
        {3, 7, sim::kModeIdle, {0xF2, 0x43, 0x01, 0x00}, 2, 0x0082},
        {3, 7, sim::kModeIdle, {0xF2, 0x44, 0x20, 0x00}, 2, 0x0082},
        {2, 30, sim::kModeIdle, {0xF2, 0x61, 0x00, 0x00, 0x40, 0x1F}, 8, 0x0082},
        {2, 30, sim::kModeIdle, {0xF2, 0x62, 0x00}, 52, 0x0082},
        {2, 30, sim::kModeIdle, {0xF2, 0x63, 0x02}, 8, 0x0082},
        {1, 13, sim::kModeIdle, {0xF2, 0x43, 0x01, 0x00}, 2, 0x0082},
        // Only in idle or debug mode.
        {2, 24, sim::kModeDfu, {0xF2, 0x43, 0x01, 0x00}, 2, 0x0083},
        {2, 24, sim::kModeMonowire, {0xF2, 0x44, 0x20, 0x00}, 2, 0x0083},
        {3, 7, sim::kModeDfu, {0xF2, 0x61, 0x00, 0x00, 0x40, 0x1F}, 8, 0x0083},
        {3, 7, sim::kModeDfu, {0xF2, 0x62, 0x00}, 52, 0x0083},
        {3, 7, sim::kModeMonowire, {0xF2, 0x63, 0x02}, 8, 0x0083},
        // Values the firmware does not know.
        {2, 24, sim::kModeIdle, {0xF2, 0x43, 0x02, 0x00}, 2, 0x0081},
        {2, 24, sim::kModeIdle, {0xF2, 0x44, 0x21, 0x00}, 2, 0x0081},
        {3, 7, sim::kModeIdle, {0xF2, 0x61, 0x02, 0x00, 0x40, 0x1F}, 8, 0x0081},
        {3, 7, sim::kModeIdle, {0xF2, 0x62, 0x02}, 52, 0x0081},
        {3, 7, sim::kModeIdle, {0xF2, 0x63, 0x03}, 8, 0x0081},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "V" << int(row.v) << ".J" << int(row.j) << " mode "
                                        << int(row.mode) << " F2 " << std::hex << int(row.cdb[1]));
        DbgDev& dev = OpenOn(row.v, row.j, row.mode);
        EXPECT_EQ(row.status, Status(dev, row.cdb, row.length));
    }
}

TEST_F(BenchFirmwareTest, FrequencyListCarriesAtMostTen) {
    sim::ProbeConfig config = TestProbe(3, 7).mode(sim::kModeIdle);
    config.swdFrequenciesKHz = {12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
    UseProbe(config);
    DbgDev& dev = OpenDevice();
    unsigned current = 0, count = 0;
    List list(10, 0);
    EXPECT_EQ(0, dev.GetComFreq(0, &current, &count, list.data()));
    EXPECT_EQ(10u, count);
    EXPECT_EQ((List{12, 11, 10, 9, 8, 7, 6, 5, 4, 3}), list);
}

TEST_F(BenchFirmwareTest, VersionWordIsSentBigEndian) {
    sim::ProbeConfig config = TestProbe(3, 41);
    config.shortVersionZeroed = false;
    UseProbe(config);
    DbgDev& dev = MakeDevice();
    EXPECT_EQ(0, dev.OpenDravik(nullptr, 0, 0u));
    const auto sends = bench().sends();
    ASSERT_EQ(1u, sends.size());
    EXPECT_EQ((std::vector<uint8_t>{0x3A, 0x40, 0xA0, 0xD7, 0x01, 0x03}), sends[0].received);
}

TEST_F(BenchFirmwareTest, AccessPortItDoesNotHaveIsRefused) {
    DbgDev& dev = OpenOn(3, 7);  // two access ports
    ASSERT_EQ(0, dev.JTAG_Enter(1));
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.InitAP(2, DbgDev_ApTypeDebug));
    EXPECT_EQ(std::vector<std::string>{"Incorrect Access Port index"}, log_.lines());
    EXPECT_EQ(0u, probe().state.openAccessPorts);
}

TEST_F(BenchFirmwareTest, FirmwareWithoutAServiceAnswersUnknownCommand) {
    UseProbe(TestProbe(2, 12));
    DbgDev& dev = OpenDevice();
    DbgDevTestPeer::SetVersion(dev, 3, 7);  // pretend the host's gates passed
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.BlinkDravikLed());
    EXPECT_EQ("Error (0x82) after target cmd F2 49 00 00 00 00 00 00 00 00", log_.last());
    EXPECT_EQ(0u, probe().state.ledBlinks);
    uint8_t name[12] = {};
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.GetMassStorageVolumeName(name, 12));
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.SelectMcoOutput(DbgDev_McoSel1));
    EXPECT_EQ(0, probe().state.mcoSelection);
    // The voltage answer has no status word: the error status reads as a reference of 0x82.
    float volts = -1.0f;
    EXPECT_EQ(0, dev.GetTargetVoltage(&volts));
    EXPECT_EQ(0.0f, volts);
}

TEST_F(BenchFirmwareTest, McoCodesItHasNoOutputForAreRefused) {
    UseProbe(TestProbe(2, 26));
    DbgDev& dev = OpenDevice();
    DbgDevTestPeer::SetVersion(dev, 3, 7);  // the host would send 4 as it is
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.SelectMcoOutput(DbgDev_McoSel4));
    EXPECT_EQ(0, probe().state.mcoSelection);
}

TEST_F(BenchFirmwareTest, FirmwareWithoutTheReceiverAnswersUnknownCommand) {
    UseProbe(TestProbe(2, 12));
    DbgDev& dev = OpenDevice();
    probe().state.mode = sim::kModeDebug;
    DbgDevTestPeer::SetVersion(dev, 3, 7);  // pretend the host's gate passed
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.StartSWVTraceReception(2000000, 4000));
    EXPECT_EQ("Error (0x82) after target cmd F2 40 A0 0F 80 84 1E 00 00 00", log_.last());
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.StopSWVTraceReception());
    EXPECT_FALSE(probe().swv().running());
    EXPECT_EQ(0u, probe().swv().capacity());
}

// A faulting transfer is reported with status 0x0011 and, in the long form, the address of the
// first unit that faulted; the query does not clear it.
TEST_F(BenchFirmwareTest, LastTransferKeepsItsFaultAddress) {
    constexpr uint32_t kSramEnd = sim::silicon::kSramBase + sim::silicon::kSramSize;
    DbgDev& dev = Connect();
    uint8_t buffer[8] = {};
    unsigned rwStatus = 0;
    EXPECT_EQ(DBGDEV_AP_FAULT, dev.ReadMemory_32Bit(kSramEnd - 4, buffer, 8, &rwStatus, 0));
    EXPECT_EQ(kSramEnd, rwStatus);
    rwStatus = 0;
    EXPECT_EQ(DBGDEV_AP_FAULT, dev.GetLastReadWriteStatus(&rwStatus));
    EXPECT_EQ(kSramEnd, rwStatus);
    EXPECT_EQ(0, dev.ReadMemory_32Bit(kSramEnd - 8, buffer, 8, &rwStatus, 0));
    EXPECT_EQ(0u, rwStatus);
}

}  // namespace
}  // namespace dravik::test
