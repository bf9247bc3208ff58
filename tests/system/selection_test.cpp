// Target selection, run and release against the bench's probes: what a repeated or refused
// selection sends (nothing), the generation gate and its flag, a failing extra reset, closing in
// each state, and which probe a blink reaches.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "CaptureFixture.h"

namespace dravik::test {
namespace {

constexpr char kOtherSerial[] = "DRAVIK-BENCH-0002";

constexpr uint8_t kLatestV2Firmware = 37;

class SelectionTest : public CaptureTest {
  protected:
    // The default probe and a second one behind it.
    void AddSecondProbe() {
        sim::ProbeConfig config;
        config.serial = kOtherSerial;
        bench().addProbe(config);
    }
    std::vector<sim::WireEntry> CallsOf(sim::Call call) {
        std::vector<sim::WireEntry> calls;
        for (const sim::WireEntry& entry : bench().log()) {
            if (entry.call == call) {
                calls.push_back(entry);
            }
        }
        return calls;
    }
};

TEST_F(SelectionTest, SameSerialTwiceIsIgnoredWithoutProbeTraffic) {
    ASSERT_EQ(0, Select()) << g_errorMsg;
    bench().clearLog();
    status_ = -7;
    EXPECT_EQ(-1, DravikSelectDevice(kBenchSerial, 0, &status_));
    EXPECT_STREQ("This device is already selected, call ignored", g_warningMsg);
    EXPECT_STREQ("", g_errorMsg);
    EXPECT_EQ(-7, status_);
    EXPECT_TRUE(bench().log().empty());
    EXPECT_STREQ(kBenchSerial, g_currentDevice);
}

TEST_F(SelectionTest, AnotherSerialIsRefusedWithoutProbeTraffic) {
    AddSecondProbe();
    ASSERT_EQ(0, Select()) << g_errorMsg;
    bench().clearLog();
    EXPECT_EQ(403, DravikSelectDevice(kOtherSerial, DRAVIK_SELECT_STRICT, &status_));
    EXPECT_STREQ("Another device is already selected, disconnect first", g_errorMsg);
    EXPECT_TRUE(bench().log().empty());
    EXPECT_STREQ(kBenchSerial, g_currentDevice);
    EXPECT_EQ(0u, Probe(1).state.openHandles);
}

TEST_F(SelectionTest, SecondGenerationNeedsItsFlag) {
    UseProbe(TestProbe(2, kLatestV2Firmware).serial("DRAVIK-V2-0042"));
    EXPECT_EQ(403, Select("DRAVIK-V2-0042", 0));
    EXPECT_STREQ("Generation of device DRAVIK-V2-0042 is too old, expecting 3 but got 2",
                 g_errorMsg);
    EXPECT_STREQ("Read generation", g_currentStep);
    EXPECT_EQ(nullptr, g_currentDevice);
    // Refused after connecting: the probe stays open and the target connected, so selecting again
    // fails at the opening until the host closes.
    EXPECT_EQ(1u, Probe().state.openHandles);
    EXPECT_EQ(sim::kModeDebug, Probe().state.mode);
    EXPECT_EQ(DBGDEV_SERIAL_NOT_FOUND, DravikSelectDevice("DRAVIK-V2-0042", 2, &status_));
    EXPECT_STREQ("Unable to open Dravik for device DRAVIK-V2-0042", g_errorMsg);

    ASSERT_EQ(0, DravikCloseDevice());
    EXPECT_EQ(0, Select("DRAVIK-V2-0042", DRAVIK_SELECT_ALLOW_OLD)) << g_errorMsg;
    EXPECT_EQ(DEVICE_HALTED, status_);
    EXPECT_STREQ("DRAVIK-V2-0042", g_currentDevice);
    EXPECT_STREQ("", g_errorMsg);
}

TEST_F(SelectionTest, FailingExtraResetNamesTheDeviceAndRecordsNothing) {
    // Count the exchanges of a plain selection up to the end of the connection.
    ASSERT_EQ(0, Select()) << g_errorMsg;
    const size_t connectExchanges = bench().sends().size() - 1;  // less the status read
    ASSERT_EQ(0, DravikCloseDevice());
    bench().reset();
    bench().clock.setManual(true);

    // The extra reset writes DEMCR and AIRCR, then waits for the reset: that read fails.
    char list[128];
    int size = sizeof list, count = 0;
    ASSERT_EQ(0, DravikEnumerateDevices(nullptr, list, &size, &count));
    bench().injectFault(unsigned(connectExchanges) + 3, sim::Fault{});
    bench().clearLog();
    status_ = -1;
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE,
              DravikSelectDevice(kBenchSerial, DRAVIK_SELECT_RESET, &status_));
    EXPECT_STREQ("Resetting", g_currentStep);
    EXPECT_STREQ("Unable to reset device DRAVIK-BENCH-0001", g_errorMsg);
    EXPECT_EQ(nullptr, g_currentDevice);
    EXPECT_EQ(-1, status_) << "no status read";
    const auto sends = bench().sends();
    ASSERT_EQ(connectExchanges + 3, sends.size());
    EXPECT_TRUE(SendsAre({sends[connectExchanges], sends[connectExchanges + 1]},
                         {DebugWrite(0xE000EDFC, 1), DebugWrite(0xE000ED0C, 0x05FA0004)}));
}

TEST_F(SelectionTest, ExtraResetResetsTheTargetOnceMore) {
    ASSERT_EQ(0, Select(kBenchSerial, DRAVIK_SELECT_RESET)) << g_errorMsg;
    EXPECT_EQ(DEVICE_HALTED, status_);
    EXPECT_EQ(sim::ResetKind::SystemReset, Target().lastResetKind());
    EXPECT_EQ(2u, Target().resetCount()) << "the connection's reset and the extra one";
    EXPECT_STREQ(kBenchSerial, g_currentDevice);
}

TEST_F(SelectionTest, NullSerialNumberIsRefusedBeforeAnyTraffic) {
    EXPECT_EQ(20, DravikSelectDevice(nullptr, 0, &status_));
    EXPECT_STREQ("Unable to select device, null serial number", g_errorMsg);
    EXPECT_EQ(20, DravikSelectDevice(kBenchSerial, 0, nullptr));
    EXPECT_STREQ("Unable to select device, null status", g_errorMsg);
    EXPECT_EQ(20, DravikBlinkDebugger(nullptr));
    EXPECT_STREQ("Unable to blink, null serial number", g_errorMsg);
    EXPECT_TRUE(bench().log().empty());
    EXPECT_EQ(nullptr, g_currentDevice);
}

TEST_F(SelectionTest, CloseTwiceThenNothingIsConnected) {
    ASSERT_EQ(0, Select()) << g_errorMsg;
    EXPECT_EQ(0, DravikCloseDevice());
    EXPECT_EQ(nullptr, g_dev);
    EXPECT_EQ(nullptr, g_currentDevice);
    EXPECT_EQ(0u, Probe().state.openHandles);
    EXPECT_EQ(sim::kModeIdle, Probe().state.mode) << "the debug protocol was left";
    bench().clearLog();
    EXPECT_EQ(-1, DravikCloseDevice());
    EXPECT_STREQ("No device connected", g_warningMsg);
    EXPECT_STREQ("DravikCloseDevice - Called", g_currentStep);
    EXPECT_TRUE(bench().log().empty());
    EXPECT_EQ(nullptr, g_dev) << "closing never creates the device object";
}

TEST_F(SelectionTest, CloseAfterListingOnlyDestroysTheDeviceObject) {
    char list[128];
    int size = sizeof list, count = 0;
    ASSERT_EQ(0, DravikEnumerateDevices(nullptr, list, &size, &count));
    ASSERT_NE(nullptr, g_dev);
    bench().clearLog();
    EXPECT_EQ(0, DravikCloseDevice());
    EXPECT_EQ(nullptr, g_dev);
    EXPECT_STREQ("", g_warningMsg);
    ASSERT_EQ(1u, bench().log().size()) << "nothing open: only the library is released";
    EXPECT_EQ(sim::Call::FreeLibrary, bench().log()[0].call);
}

TEST_F(SelectionTest, BlinkWithASelectionBlinksTheSelectedProbe) {
    AddSecondProbe();
    ASSERT_EQ(0, Select()) << g_errorMsg;
    bench().clearLog();
    EXPECT_EQ(0, DravikBlinkDebugger(kOtherSerial));
    EXPECT_STREQ("Using current device, ignoring argument", g_currentStep);
    EXPECT_TRUE(SentExactly({BlinkLed()}));
    EXPECT_TRUE(CallsOf(sim::Call::OpenDevice).empty());
    EXPECT_EQ(1u, Probe(0).state.ledBlinks);
    EXPECT_EQ(0u, Probe(1).state.ledBlinks);
    // The argument is not looked at, so a null one does no harm here.
    EXPECT_EQ(0, DravikBlinkDebugger(nullptr));
    EXPECT_EQ(2u, Probe(0).state.ledBlinks);
    EXPECT_EQ(1u, Probe(0).state.openHandles) << "the selection keeps its probe open";
}

TEST_F(SelectionTest, BlinkWithoutASelectionOpensAndClosesThatProbe) {
    AddSecondProbe();
    EXPECT_EQ(0, DravikBlinkDebugger(kOtherSerial));
    EXPECT_EQ(0u, Probe(0).state.ledBlinks);
    EXPECT_EQ(1u, Probe(1).state.ledBlinks);
    EXPECT_EQ(0u, Probe(1).state.openHandles);
    const auto opens = CallsOf(sim::Call::OpenDevice);
    ASSERT_EQ(1u, opens.size());
    EXPECT_EQ(1, opens[0].probe);
    EXPECT_EQ(1u, CallsOf(sim::Call::CloseDevice).size());
    EXPECT_TRUE(CallsOf(sim::Call::FreeLibrary).empty()) << "the device object stays";
    EXPECT_NE(nullptr, g_dev);
    EXPECT_EQ(nullptr, g_currentDevice);

    // Strict: an unknown serial number is not replaced by a lonely probe.
    EXPECT_EQ(DBGDEV_SERIAL_NOT_FOUND, DravikBlinkDebugger("NOPE"));
    EXPECT_STREQ("Unable to open Dravik for device NOPE", g_errorMsg);
}

TEST_F(SelectionTest, BlinkFailureIsReportedInTheStepTextOnly) {
    bench().script(sim::ScriptedAnswer::Status(0x0081).When({0xF2, 0x49}));
    EXPECT_EQ(DBGDEV_PROBE_ERROR, DravikBlinkDebugger(kBenchSerial));
    EXPECT_STREQ("Unable to blink led for selected device", g_currentStep);
    EXPECT_STREQ("", g_errorMsg);
    EXPECT_EQ(0u, Probe().state.openHandles) << "closed again after the blink";

    ASSERT_EQ(0, Select()) << g_errorMsg;
    bench().script(sim::ScriptedAnswer::Status(0x0081).When({0xF2, 0x49}));
    EXPECT_EQ(DBGDEV_PROBE_ERROR, DravikBlinkDebugger(kBenchSerial));
    EXPECT_STREQ("Unable to blink led for current device", g_currentStep);
    EXPECT_STREQ("", g_errorMsg);
}

TEST_F(SelectionTest, BlinkOnFirmwareThatIsNotTheLatestFailsAtTheOpeningAndLeavesItOpen) {
    sim::ProbeConfig config = TestProbe(2, kLatestV2Firmware).serial("DRAVIK-V2-0027");
    config.jtagVersion = 27;
    UseProbe(config);
    EXPECT_EQ(DBGDEV_FIRMWARE_NOT_LATEST, DravikBlinkDebugger("DRAVIK-V2-0027"));
    EXPECT_STREQ("Unable to open Dravik for device DRAVIK-V2-0027", g_errorMsg);
    EXPECT_EQ(0u, Probe().state.ledBlinks);
    EXPECT_EQ(1u, Probe().state.openHandles);
}

TEST_F(SelectionTest, NullStatusIsRefusedBeforeTheCoreRuns) {
    ASSERT_EQ(0, Select()) << g_errorMsg;
    bench().clearLog();
    EXPECT_EQ(20, DravikRunDevice(nullptr));
    EXPECT_STREQ("Unable to run device, null status", g_errorMsg);
    EXPECT_EQ(20, DravikGetDeviceStatus(nullptr));
    EXPECT_STREQ("Unable to read device status", g_errorMsg);
    EXPECT_TRUE(bench().log().empty());
    EXPECT_EQ(sim::RunState::Halted, Target().runState());
}

TEST_F(SelectionTest, RunAndStatusActOnTheConnectedTarget) {
    ASSERT_EQ(0, Select()) << g_errorMsg;
    ASSERT_EQ(DEVICE_HALTED, status_);
    EXPECT_EQ(0, DravikRunDevice(&status_));
    EXPECT_EQ(DEVICE_RUNNING, status_);
    EXPECT_EQ(sim::RunState::Running, Target().runState());
    EXPECT_EQ(0, DravikGetDeviceStatus(&status_));
    EXPECT_EQ(DEVICE_RUNNING, status_);
    EXPECT_STREQ("Read device status", g_currentStep);
}

// Bit 2 of the flags is the strict flag: without it the lonely probe is opened whatever its
// serial number.
TEST_F(SelectionTest, StrictFlagForbidsOpeningTheLonelyProbe) {
    EXPECT_EQ(DBGDEV_SERIAL_NOT_FOUND, DravikSelectDevice("SOMEONE-ELSE", 4, &status_));
    EXPECT_STREQ("Unable to open Dravik for device SOMEONE-ELSE", g_errorMsg);
    EXPECT_EQ(0u, Probe().state.openHandles);
    EXPECT_EQ(nullptr, g_currentDevice);

    EXPECT_EQ(0, DravikSelectDevice("SOMEONE-ELSE", 3, &status_)) << g_errorMsg;
    EXPECT_EQ(1u, Probe().state.openHandles);
    EXPECT_STREQ("SOMEONE-ELSE", g_currentDevice);
}

// A selection that cannot be recorded closes target and probe again: 303 means nothing was done,
// and the next selection opens the probe afresh.
TEST_F(SelectionTest, SelectionThatCannotBeRecordedClosesTargetAndProbe) {
    {
        // The serial number's copy is the one allocation of single bytes.
        FailingAllocations failing([](size_t, size_t size) { return size == 1; });
        EXPECT_EQ(DRAVIK_NO_DEVICE_OBJECT, DravikSelectDevice(kBenchSerial, 0, &status_));
    }
    EXPECT_EQ("Unable to record the selection of device " + std::string(kBenchSerial),
              std::string(g_errorMsg));
    EXPECT_EQ(nullptr, g_currentDevice);
    EXPECT_EQ(0u, Probe().state.openHandles);
    EXPECT_EQ(sim::kModeIdle, Probe().state.mode) << "the debug protocol was left";
    EXPECT_FALSE(DbgDevTestPeer::probeOpen(*g_dev));

    EXPECT_EQ(0, Select()) << g_errorMsg;
    EXPECT_STREQ(kBenchSerial, g_currentDevice);
}

// Every run state reaches the host through the status call, reset first, then lock-up over sleep.
TEST_F(SelectionTest, StatusReportsEveryRunState) {
    ASSERT_EQ(0, Select()) << g_errorMsg;
    const struct {
        uint32_t dhcsr;
        int status;
    } rows[] = {
        {0x00080000, DEVICE_LOCKUP}, {0x000C0000, DEVICE_LOCKUP}, {0x00040000, DEVICE_SLEEP},
        {0x02000000, DEVICE_RESET},  {0x020E0000, DEVICE_RESET},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << row.dhcsr);
        bench().script(DebugReadAnswer(armv7m::kDhcsr, row.dhcsr));
        status_ = -1;
        EXPECT_EQ(0, DravikGetDeviceStatus(&status_));
        EXPECT_EQ(row.status, status_);
    }
}

}  // namespace
}  // namespace dravik::test
