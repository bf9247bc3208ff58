// Probe modes: the mode query, DFU and Monowire exits, debug protocol entry and exit, the
// identification codes and the access-port commands with their status words.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DbgDevFixture.h"
#include "WireExpect.h"

namespace dravik::test {
namespace {

using sim::ScriptedAnswer;
using Lines = std::vector<std::string>;

class ProbeModesTest : public BenchTest {
  protected:
    // The bench's only probe, idle, behind an open device object.
    DbgDev& OpenIdle(sim::ProbeConfig config = {}) {
        config.initialMode = sim::kModeIdle;
        UseProbe(config);
        return OpenDevice();
    }
    sim::ProbeState& probeState() { return bench().probe(0).state; }
};

TEST_F(ProbeModesTest, ModeQueryStoresBothBytes) {
    sim::ProbeConfig config;
    config.initialMode = sim::kModeMonowire;
    config.initialSubMode = 2;
    UseProbe(config);
    DbgDev& dev = OpenDevice();
    EXPECT_EQ(0, dev.Get_CurrentMode());
    EXPECT_EQ(3, DbgDevTestPeer::probeMode(dev));
    EXPECT_EQ(2, DbgDevTestPeer::probeSubMode(dev));
    EXPECT_TRUE(SentExactly({In({0xF5}, 2)}));
}

TEST_F(ProbeModesTest, FailedModeQueryKeepsTheMembers) {
    DbgDev& dev = OpenDevice();
    DbgDevTestPeer::probeMode(dev) = 0x1234;
    DbgDevTestPeer::probeSubMode(dev) = 7;
    ScriptedAnswer answer = ScriptedAnswer::Bytes({0x02, 0x00});
    answer.transportResult = 0;
    bench().script(answer);
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.Get_CurrentMode());
    EXPECT_EQ(0x1234, DbgDevTestPeer::probeMode(dev));
    EXPECT_EQ(7, DbgDevTestPeer::probeSubMode(dev));
}

TEST_F(ProbeModesTest, DfuExitRefusedAboveSubMode1) {
    DbgDev& dev = OpenDevice();
    DbgDevTestPeer::probeSubMode(dev) = 2;
    EXPECT_EQ(DBGDEV_DFU_EXIT_REFUSED, dev.DFU_Exit());
    EXPECT_TRUE(SentExactly({}));
    EXPECT_EQ(sim::kModeDfu, probeState().mode);

    DbgDevTestPeer::probeSubMode(dev) = 1;
    EXPECT_EQ(0, dev.DFU_Exit());
    EXPECT_TRUE(SentExactly({In({0xF3, 0x07}, 0)}));
    EXPECT_EQ(sim::kModeIdle, probeState().mode);
}

TEST_F(ProbeModesTest, CommandsWithoutAnswerReportOnlyTheTransport) {
    DbgDev& dev = OpenIdle();
    EXPECT_EQ(0, dev.Monowire_Enter());
    EXPECT_EQ(sim::kModeMonowire, probeState().mode);
    EXPECT_EQ(0, dev.Monowire_Exit());
    EXPECT_EQ(sim::kModeIdle, probeState().mode);
    EXPECT_EQ(0, dev.JTAG_Enter(1));
    EXPECT_EQ(0, dev.JTAG_Exit());
    EXPECT_EQ(sim::kModeIdle, probeState().mode);
    EXPECT_TRUE(SentExactly({
        In({0xF4, 0x00}, 0),
        In({0xF4, 0x01}, 0),
        In({0xF2, 0x30, 0xA3}, 2),
        In({0xF2, 0x21}, 0),
    }));
    // Whatever the probe would say, only a transport failure counts.
    bench().script(ScriptedAnswer::Transport(0));
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.JTAG_Exit());
}

TEST_F(ProbeModesTest, DebugEntrySelectsSwdOnlyForProtocol1) {
    const struct {
        int protocol;
        uint8_t sub;
    } rows[] = {{1, 0xA3}, {0, 0xA4}, {5, 0xA4}, {-1, 0xA4}, {0x101, 0xA4}};
    DbgDev& dev = OpenIdle();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.protocol);
        bench().clearLog();
        EXPECT_EQ(0, dev.JTAG_Enter(row.protocol));
        EXPECT_TRUE(SentExactly({In({0xF2, 0x30, row.sub}, 2)}));
        EXPECT_EQ(sim::kModeDebug, probeState().mode);
        EXPECT_EQ(row.sub, probeState().debugProtocol);
    }
}

TEST_F(ProbeModesTest, DebugEntryWithoutTargetGives4) {
    sim::ProbeConfig config;
    config.targetAttached = false;
    DbgDev& dev = OpenIdle(config);
    EXPECT_EQ(DBGDEV_NO_TARGET, dev.JTAG_Enter(1));
    EXPECT_EQ(Lines{"No target device detected: check JTAG signals"}, log_.lines());
    EXPECT_EQ(sim::kModeIdle, probeState().mode);
}

TEST_F(ProbeModesTest, DebugEntryOutsideIdleIsAProbeError) {
    DbgDev& dev = OpenDevice();  // the bench's probe starts in DFU mode
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.JTAG_Enter(1));
    EXPECT_EQ(Lines{"Error (0x83) after target cmd F2 30 A3 00 00 00 00 00 00 00"}, log_.lines());
}

TEST_F(ProbeModesTest, IdCodesSkipANullPointer) {
    sim::ProbeConfig config;
    config.idCodes[0] = 0x2BA01477;
    config.idCodes[1] = 0x10036413;
    DbgDev& dev = OpenIdle(config);
    unsigned first = 1, second = 2;
    EXPECT_EQ(0, dev.ReadIdCodes(&first, &second));
    EXPECT_EQ(0x2BA01477u, first);
    EXPECT_EQ(0x10036413u, second);

    second = 0;
    EXPECT_EQ(0, dev.ReadIdCodes(nullptr, &second));
    EXPECT_EQ(0x10036413u, second);
    EXPECT_EQ(0, dev.ReadIdCodes(nullptr, nullptr));
    EXPECT_TRUE(SentExactly({In({0xF2, 0x31}, 12), In({0xF2, 0x31}, 12), In({0xF2, 0x31}, 12)}));
}

TEST_F(ProbeModesTest, FailedIdCodesStoreNothing) {
    DbgDev& dev = OpenIdle();
    bench().script(ScriptedAnswer::Status(0x0081, {0, 0, 1, 2, 3, 4, 5, 6, 7, 8}));
    unsigned first = 1, second = 2;
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.ReadIdCodes(&first, &second));
    EXPECT_EQ(1u, first);
    EXPECT_EQ(2u, second);
}

TEST_F(ProbeModesTest, AccessPortCommandsCarryLowBytesAndNoCommandBlockLength) {
    sim::ProbeConfig config;
    config.accessPorts = 4;
    DbgDev& dev = OpenIdle(config);
    ASSERT_EQ(0, dev.JTAG_Enter(1));
    bench().clearLog();
    EXPECT_EQ(0, dev.InitAP(0x303, DbgDev_ApTypeDebug));
    EXPECT_EQ(0, dev.InitAP(1, DbgDev_ApTypeBasic));
    EXPECT_EQ(0x0Au, probeState().openAccessPorts);
    EXPECT_EQ(0, dev.CloseDbgAP(0x103));
    EXPECT_EQ(0x02u, probeState().openAccessPorts);
    EXPECT_TRUE(SentExactly({
        In({0xF2, 0x4B, 0x03, 0x01}, 2, 0),
        In({0xF2, 0x4B, 0x01, 0x00}, 2, 0),
        In({0xF2, 0x4C, 0x03}, 2, 0),
    }));
}

TEST_F(ProbeModesTest, InitApChecksTheFirmwareBeforeTheType) {
    const struct {
        uint8_t v, j;
        int type;
        int result;
    } rows[] = {
        {3, 7, 2, DBGDEV_BAD_ARGUMENT},   {3, 7, -1, DBGDEV_BAD_ARGUMENT},
        {2, 28, 2, DBGDEV_BAD_ARGUMENT},  {2, 27, 1, DBGDEV_NOT_SUPPORTED},
        {2, 27, 2, DBGDEV_NOT_SUPPORTED}, {1, 13, 0, DBGDEV_NOT_SUPPORTED},
    };
    DbgDev& dev = OpenIdle();
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << "V" << int(row.v) << ".J" << int(row.j) << " type " << row.type);
        DbgDevTestPeer::SetVersion(dev, row.v, row.j);
        EXPECT_EQ(row.result, dev.InitAP(0, static_cast<DbgDev_ApTypeT>(row.type)));
        EXPECT_TRUE(SentExactly({}));
        EXPECT_TRUE(log_.lines().empty());
    }
    DbgDevTestPeer::SetVersion(dev, 2, 27);
    EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.CloseDbgAP(0));
    EXPECT_TRUE(SentExactly({}));
}

TEST_F(ProbeModesTest, FirmwareWithoutAccessPortCommandsWouldRefuseThem) {
    // Were the gate missing, the simulated V2.J27 firmware would answer the unknown command.
    sim::ProbeConfig config;
    config.generation = 2;
    config.jtagVersion = 27;
    DbgDev& dev = OpenIdle(config);
    DbgDevTestPeer::SetVersion(dev, 2, 28);
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.InitAP(0, DbgDev_ApTypeDebug));
    EXPECT_EQ(Lines{"Error (0x82) after target cmd F2 4B 00 01 00 00 00 00 00 00"}, log_.lines());
}

struct ApStatusRow {
    uint16_t status;
    int result;
    const char* message;
};

const ApStatusRow kApStatusRows[] = {
    {0x001B, 30, "The selected Access Port is already in use"},
    {0x001C, 31, "The caller is becoming the new owner of trace Access Ports"},
    {0x001D, 20, "Incorrect Access Port index"},
    {0x0011, 32, "Access Port fault: 0x11"},
    {0x0018, 32, "Access Port fault: 0x18"},
    {0x0019, 32, "Access Port fault: 0x19"},
    {0x001A, 32, "Access Port fault: 0x1a"},
    {0x0031, 33, "TCP ID error: 0x31"},
};

TEST_F(ProbeModesTest, AccessPortStatusWords) {
    DbgDev& dev = OpenIdle();
    ASSERT_EQ(0, dev.JTAG_Enter(1));
    for (const ApStatusRow& row : kApStatusRows) {
        SCOPED_TRACE(row.status);
        log_.clear();
        bench().script(ScriptedAnswer::Status(row.status).When({0xF2, 0x4B}));
        EXPECT_EQ(row.result, dev.InitAP(0, DbgDev_ApTypeDebug));
        EXPECT_EQ(Lines{row.message}, log_.lines());
        log_.clear();
        bench().script(ScriptedAnswer::Status(row.status).When({0xF2, 0x4C}));
        EXPECT_EQ(row.result, dev.CloseDbgAP(0));
        EXPECT_EQ(Lines{row.message}, log_.lines());
    }
}

}  // namespace
}  // namespace dravik::test
