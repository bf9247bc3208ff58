// The command transport: the status word table, transport failures and the paths that refuse a
// command before it reaches the driver library.
#include <gtest/gtest.h>

#include <cstring>

#include "DbgDevFixture.h"
#include "ProbeCommands.h"
#include "WireExpect.h"

namespace dravik::test {
namespace {

using sim::ScriptedAnswer;

class TransportTest : public BenchTest {};

struct StatusRow {
    uint16_t status;
    int result;
    const char* message;  // nullptr: none
};

// The status table in its test order, each row with the text the device object logs.
const StatusRow kStatusRows[] = {
    {0x0080, DBGDEV_OK, nullptr},
    {0x0005, 4, "No target device detected: check JTAG signals"},
    {0x0009, 4, "Error getting target IDCODE: if SWD, check SWD connection"},
    {0x0004, 7, "Unknown JTAG chain detected on target: check JTAG connection"},
    {0x001B, 30, "The selected Access Port is already in use"},
    {0x001C, 31, "The caller is becoming the new owner of trace Access Ports"},
    {0x001D, 20, "Incorrect Access Port index"},
    {0x0011, 32, "Access Port fault: 0x11"},
    {0x0019, 32, "Access Port fault: 0x19"},
    {0x0018, 32, "Access Port fault: 0x18"},
    {0x001A, 32, "Access Port fault: 0x1a"},
    {0x0031, 33, "TCP ID error: 0x31"},
    {0x0030, 33, "TCP ID error: 0x30"},
    {0x0040, 35,
     "Some Dravik settings have been automatically modified during the Dravik freq switch: 0x40"},
    {0x0081, 19, "Error (0x81) after target cmd F2 36 F0 ED 00 E0 00 00 00 00"},
    {0x0180, 19, "Error (0x180) after target cmd F2 36 F0 ED 00 E0 00 00 00 00"},
    {0x000D, 19, "Error (0xd) after target cmd F2 36 F0 ED 00 E0 00 00 00 00"},
};

TEST_F(TransportTest, StatusWordsMapToResultsAndMessages) {
    DbgDev& dev = OpenDevice();
    for (const StatusRow& row : kStatusRows) {
        SCOPED_TRACE(row.status);
        log_.clear();
        // Any bytes may follow the status word.
        bench().script(ScriptedAnswer::Status(row.status, {0xFF, 0xFF, 0x78, 0x56, 0x34, 0x12}));
        unsigned value = 0xCAFEF00D;
        EXPECT_EQ(row.result, dev.ReadDebugRegister(0xE000EDF0, &value, 0));
        if (row.message == nullptr) {
            EXPECT_TRUE(log_.lines().empty());
            EXPECT_EQ(0x12345678u, value);
        } else {
            ASSERT_EQ(1u, log_.lines().size());
            EXPECT_EQ(row.message, log_.last());
            EXPECT_EQ(0xCAFEF00Du, value) << "a failed read leaves the value alone";
        }
    }
}

TEST_F(TransportTest, TransportFailureWinsOverAGoodStatusInTheBuffer) {
    DbgDev& dev = OpenDevice();
    ScriptedAnswer answer = ScriptedAnswer::Status(0x0080, {0, 0, 1, 0, 0, 0});
    answer.transportResult = 0x1234;
    bench().script(answer);
    unsigned value = 7;
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.ReadDebugRegister(0xE000ED00, &value, 0));
    EXPECT_EQ(7u, value);
    EXPECT_EQ("USB communication error (4660) after target cmd F2 36 00 ED 00 E0 00 00 00 00",
              log_.last());
}

TEST_F(TransportTest, NullStatusAcceptsAnyAnswerAfterAGoodTransfer) {
    DbgDev& dev = OpenDevice();
    bench().script(ScriptedAnswer::Bytes({0x81, 0x01}));
    EXPECT_EQ(0, dev.Get_CurrentMode());
    EXPECT_EQ(0x81, DbgDevTestPeer::probeMode(dev));
    EXPECT_EQ(0x01, DbgDevTestPeer::probeSubMode(dev));
}

TEST_F(TransportTest, NullRecordIsRefusedWithoutAMessage) {
    DbgDev& dev = OpenDevice();
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.SendRequestAndAnalyzeStatus(nullptr, nullptr));
    EXPECT_TRUE(log_.lines().empty());
    EXPECT_TRUE(bench().log().empty());
}

TEST_F(TransportTest, CommandBeforeOpenReturns26AndCallsNothing) {
    DbgDev& dev = MakeDevice();
    unsigned value = 0;
    EXPECT_EQ(DBGDEV_NO_PROBE, dev.ReadDebugRegister(0xE000EDF0, &value, 0));
    EXPECT_EQ(DBGDEV_NO_PROBE, dev.Get_CurrentMode());
    EXPECT_TRUE(bench().log().empty());
    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(TransportTest, TcpCommandWithoutConnectionIdReturns1AndCallsNothing) {
    DbgDev& dev = MakeDevice(DRAVIK_TCP_INTERFACE);
    DbgDevTestPeer::probeOpen(dev) = true;  // open, but no connection id was ever recorded
    EXPECT_EQ(DBGDEV_OPEN_FAILURE, dev.Get_CurrentMode());
    EXPECT_TRUE(bench().log().empty());
    EXPECT_EQ(" GetDeviceInfo2/OpenDevice must be called before sending command via dravik-TCP ",
              log_.last());
    DbgDevTestPeer::probeOpen(dev) = false;
}

TEST_F(TransportTest, TcpCommandsGoThroughTheTcpCall) {
    sim::ProbeConfig config;
    config.iface = DRAVIK_TCP_INTERFACE;
    config.deviceId = 0x4242;
    UseProbe(config);
    DbgDev& dev = OpenDevice(0, DRAVIK_TCP_INTERFACE);
    EXPECT_EQ(0, dev.Get_CurrentMode());
    ASSERT_EQ(1u, bench().log().size());
    EXPECT_EQ(sim::Call::SendCommandTcp, bench().log()[0].call);
    EXPECT_EQ(0x4242u, bench().log()[0].deviceId);
}

TEST_F(TransportTest, EveryRecordIsZeroFilledWithFixedFields) {
    DbgDev& dev = OpenDevice();
    unsigned value = 0;
    EXPECT_EQ(0, dev.Get_CurrentMode());
    bench().script(ScriptedAnswer::Status(0x0080));
    EXPECT_EQ(0, dev.WriteDebugRegister(0x20000000, 0x11223344, 0x1FF));
    bench().script(ScriptedAnswer::Status(0x0080, {0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(0, dev.ReadDebugRegister(0x20000000, &value, 0));
    EXPECT_TRUE(SentExactly({
        In({0xF5}, 2),
        In({0xF2, 0x35, 0x00, 0x00, 0x00, 0x20, 0x44, 0x33, 0x22, 0x11, 0xFF}, 2),
        In({0xF2, 0x36, 0x00, 0x00, 0x00, 0x20, 0x00}, 8),
    }));
    EXPECT_TRUE(RecordsWellFormed(bench().log()));
}

// A command record that cannot be allocated fails like an exchange, with nothing sent.
TEST_F(TransportTest, RecordThatCannotBeAllocatedGives3) {
    DbgDev& dev = OpenDevice();
    FailingAllocations failing([](size_t, size_t) { return true; });
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.Get_CurrentMode());
    EXPECT_EQ(std::vector<std::string>{"Unable to allocate a command record"}, log_.lines());
    EXPECT_TRUE(bench().log().empty());
    EXPECT_EQ(0xFF, DbgDevTestPeer::probeMode(dev));
}

TEST_F(TransportTest, CommandTableRowsAreConsistent) {
    using namespace dravik::cmd;
    // The debug sub-commands without a command-block length are exactly 0x49 to 0x4C.
    for (const ProbeCommand* c : {&BlinkLed, &GetVolumeName, &InitAp, &CloseAp}) {
        EXPECT_EQ(0, c->cdbLength) << std::hex << unsigned(c->sub);
    }
    for (const ProbeCommand* c :
         {&ReadMemory32,    &WriteMemory32,    &ReadMemory8,        &WriteMemory8,
          &JtagExit,        &JtagEnter,        &ReadIdCodes,        &ResetSystem,
          &ReadRegister,    &WriteRegister,    &WriteDebugRegister, &ReadDebugRegister,
          &SetFlashPatch,   &ClearFlashPatch,  &ReadAllRegisters,   &LastRwStatus,
          &TargetHardReset, &ReadFpuRegisters, &LastRwStatusLong,   &StartSwv,
          &StopSwv,         &SwvPendingCount,  &SetSwdClockDivider, &SetJtagClockDivider,
          &ReadDapRegister, &WriteDapRegister, &ReadMemory16,       &WriteMemory16,
          &SetComFreq,      &GetComFreq,       &SwitchFreq}) {
        EXPECT_EQ(10, c->cdbLength) << std::hex << unsigned(c->sub);
        EXPECT_EQ(0xF2, c->cls);
    }
    // Only the three memory writes send data to the probe.
    for (const ProbeCommand* c : {&WriteMemory32, &WriteMemory16, &WriteMemory8}) {
        EXPECT_EQ(Dir::ToProbe, c->dir);
    }
    EXPECT_EQ(Dir::TraceStream, ReadTrace.dir);
    EXPECT_EQ(0, ReadTrace.cdbLength);
}

}  // namespace
}  // namespace dravik::test
