// The exported functions called in the wrong order or repeated: each returns its documented code
// and texts, and sends nothing it should not.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

#include "DbgDevFixture.h"
#include "DravikTrace.h"
#include "TraceBlocks.h"

namespace dravik::test {
namespace {

constexpr const char* kSerial = "DRAVIK-BENCH-0001";
constexpr const char* kOther = "DRAVIK-BENCH-0002";

// The interface states a host can bring about (README.md, "Interface states").
enum class State {
    NoObject,         // nothing made yet, or everything closed
    ObjectOnly,       // a device object without an open probe (after a listing)
    FailedSelection,  // a selection failed after opening the probe: the probe stays open
    Selected,         // probe open, target connected and halted, selection recorded
    Receiving,        // selected, trace set up, the receiver running
};

const char* Name(State s) {
    switch (s) {
        case State::NoObject:
            return "no device object";
        case State::ObjectOnly:
            return "device object only";
        case State::FailedSelection:
            return "after a failed selection";
        case State::Selected:
            return "selected";
        case State::Receiving:
            return "receiving";
    }
    return "?";
}

class InterfaceMisuseTest : public BenchTest {
  protected:
    void SetUp() override {
        BenchTest::SetUp();
        DravikCloseDevice();  // whatever an earlier test left
        EnsureTraceBlocks(bench().probe(0));
    }
    void TearDown() override {
        DravikCloseDevice();
        BenchTest::TearDown();
    }

    void Reach(State state) {
        int status = 0, fifo = 0;
        char list[256];
        int size = sizeof list, count = 0;
        switch (state) {
            case State::NoObject:
                ASSERT_EQ(nullptr, g_dev);
                break;
            case State::ObjectOnly:
                ASSERT_EQ(0, DravikEnumerateDevices(nullptr, list, &size, &count));
                break;
            case State::FailedSelection:
                bench().probe(0).config.targetAttached = false;
                ASSERT_EQ(DBGDEV_NO_TARGET,
                          DravikSelectDevice(kSerial, DRAVIK_SELECT_STRICT, &status));
                break;
            case State::Selected:
                ASSERT_EQ(0, DravikSelectDevice(kSerial, DRAVIK_SELECT_STRICT, &status));
                break;
            case State::Receiving:
                ASSERT_EQ(0, DravikSelectDevice(kSerial, DRAVIK_SELECT_STRICT, &status));
                ASSERT_EQ(0, DravikSetupDevice(72000000, 36, 1, DRAVIK_TX_NRZ, &fifo));
                break;
        }
        bench().clearLog();
    }
};

struct Row {
    State state;
    const char* call;
    std::function<int()> make;
    int result;
    const char* step;
    const char* error;
    const char* warning;
    bool sendsNothing;
};

int Status() {
    int status = -1;
    return DravikGetDeviceStatus(&status);
}
int Run() {
    int status = -1;
    return DravikRunDevice(&status);
}
int TraceSetup(int prescaler = 36) {
    int fifo = 0;
    return DravikSetupDevice(72000000, prescaler, 1, DRAVIK_TX_NRZ, &fifo);
}
int Read() {
    static char buffer[64];
    int length = sizeof buffer;
    return DravikReadSWVData(buffer, 0, &length);
}
int Memory(unsigned address = 0x20000000) {
    unsigned char buffer[16];
    return DravikReadMemory(address, buffer, sizeof buffer, nullptr);
}
int Select(const char* serial) {
    int status = -1;
    return DravikSelectDevice(serial, DRAVIK_SELECT_STRICT, &status);
}

// Calls that need an open probe, made without one: each fails with 26 before reaching the driver.
std::vector<Row> WithoutAProbe(State state) {
    return {
        {state, "setup before select", [] { return TraceSetup(); }, DBGDEV_NO_PROBE,
         "Reading register CoreDebug_DEMCR", "Unable to read CoreDebug_DEMCR register, status: 26",
         "", true},
        {state, "read before setup", Read, DBGDEV_NO_PROBE, "Reading SWV Data", "",
         "Unable to read SWV record size, status: 26", true},
        {state, "run without a probe", Run, DBGDEV_NO_PROBE, "Run device",
         "Unable to run device, status: 26", "", true},
        {state, "status without a probe", Status, DBGDEV_NO_PROBE, "Read device status",
         "Unable to read device status", "", true},
        {state, "start without a probe", [] { return DravikStartSWVRead(72000000, 36); },
         DBGDEV_NO_PROBE, "Starting SWV Trace Reception",
         "Unable to start SWV Trace Reception, status: 26", "", true},
        {state, "stop without a probe", DravikStopSWVRead, DBGDEV_NO_PROBE,
         "Stop SWV Trace Reception", "Unable to stop SWV Trace Reception, status: 26", "", true},
        {state, "memory without a probe", [] { return Memory(); }, DBGDEV_NO_PROBE,
         "Reading memory", "Unable to read memory, status: 26", "", true},
    };
}

TEST_F(InterfaceMisuseTest, CallsInEveryStateReturnTheirDocumentedCodesAndTexts) {
    std::vector<Row> rows = WithoutAProbe(State::NoObject);
    for (Row& row : WithoutAProbe(State::ObjectOnly)) {
        rows.push_back(row);
    }
    const std::vector<Row> more = {
        {State::NoObject, "close without a device object", DravikCloseDevice, DRAVIK_IGNORED,
         "DravikCloseDevice - Called", "", "No device connected", true},
        {State::ObjectOnly, "close after a listing alone", DravikCloseDevice, DRAVIK_OK,
         "DravikCloseDevice - Called", "", "", true},
        {State::FailedSelection, "select after a failed select", [] { return Select(kSerial); },
         DBGDEV_SERIAL_NOT_FOUND, "Open Dravik",
         "Unable to open Dravik for device DRAVIK-BENCH-0001", "", true},
        {State::FailedSelection, "another select after a failed select",
         [] { return Select(kOther); }, DBGDEV_SERIAL_NOT_FOUND, "Open Dravik",
         "Unable to open Dravik for device DRAVIK-BENCH-0002", "", true},
        {State::FailedSelection, "blink after a failed select",
         [] { return DravikBlinkDebugger(kSerial); }, DBGDEV_SERIAL_NOT_FOUND,
         "DravikBlinkDebugger - Called", "Unable to open Dravik for device DRAVIK-BENCH-0001", "",
         true},
        {State::Selected, "the same selection again", [] { return Select(kSerial); },
         DRAVIK_IGNORED, "DravikSelectDevice - Called", "",
         "This device is already selected, call ignored", true},
        {State::Selected, "a second selection while one is active", [] { return Select(kOther); },
         DRAVIK_REFUSED, "DravikSelectDevice - Called",
         "Another device is already selected, disconnect first", "", true},
        {State::Selected, "read before setup", Read, DRAVIK_OK, "No SWV records", "", "", false},
        {State::Selected, "stop before any start", DravikStopSWVRead, DRAVIK_OK,
         "Stop SWV Trace Reception", "", "", false},
        {State::Selected, "start with prescaler 0", [] { return DravikStartSWVRead(72000000, 0); },
         DRAVIK_BAD_ARGUMENT, "DravikStartSWVRead - Called",
         "Unable to start SWV Trace Reception, bad prescaler: 0", "", true},
        {State::Selected, "setup with prescaler 0", [] { return TraceSetup(0); },
         DRAVIK_VERIFY_FAILED, "Verifying written register TPIU_ACPR",
         "Unable to verify TPIU_ACPR register, expected: 4294967295, got: 65535", "", false},
        {State::Selected, "memory at a misaligned address", [] { return Memory(0x20000002); },
         DRAVIK_BAD_ARGUMENT, "DravikReadMemory - Called",
         "Unable to read memory, address must be 4-byte aligned", "", true},
        {State::Selected, "blink naming another probe", [] { return DravikBlinkDebugger(kOther); },
         DRAVIK_OK, "Using current device, ignoring argument", "", "", false},
        {State::Receiving, "setup twice", [] { return TraceSetup(); }, DRAVIK_OK,
         "Starting SWV Trace Reception", "", "", false},
        {State::Receiving, "stop", DravikStopSWVRead, DRAVIK_OK, "Stop SWV Trace Reception", "", "",
         false},
    };
    rows.insert(rows.end(), more.begin(), more.end());

    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(Name(row.state)) + ": " + row.call);
        DravikCloseDevice();
        bench().reset();
        bench().clock.setManual(true);
        EnsureTraceBlocks(bench().probe(0));
        Reach(row.state);
        if (HasFatalFailure()) {
            return;
        }
        const uint64_t before = bench().exchangeCount();
        EXPECT_EQ(row.result, row.make());
        EXPECT_STREQ(row.step, g_currentStep);
        EXPECT_STREQ(row.error, g_errorMsg);
        EXPECT_STREQ(row.warning, g_warningMsg);
        if (row.sendsNothing) {
            EXPECT_EQ(before, bench().exchangeCount()) << "nothing reaches the probe";
        }
    }
}

TEST_F(InterfaceMisuseTest, RepeatedStopsAndClosesAreHarmless) {
    Reach(State::Receiving);
    EXPECT_EQ(0, DravikStopSWVRead());
    EXPECT_EQ(0, DravikStopSWVRead()) << "stopping a stopped receiver";
    EXPECT_FALSE(bench().probe(0).swv().running());
    EXPECT_EQ(0, DravikCloseDevice());
    EXPECT_EQ(nullptr, g_dev);
    EXPECT_EQ(nullptr, g_currentDevice);
    EXPECT_EQ(DRAVIK_IGNORED, DravikCloseDevice());
    EXPECT_STREQ("No device connected", g_warningMsg);
    EXPECT_EQ(1u, bench().freeLibraryCalls()) << "the library is released by the first close only";
    EXPECT_EQ(0u, bench().probe(0).state.openHandles);
}

TEST_F(InterfaceMisuseTest, AFailedSelectionIsRecoveredByClosing) {
    Reach(State::FailedSelection);
    EXPECT_EQ(nullptr, g_currentDevice) << "nothing recorded";
    EXPECT_EQ(1u, bench().probe(0).state.openHandles) << "the probe stays open";
    EXPECT_EQ(DBGDEV_SERIAL_NOT_FOUND, Select(kSerial));
    EXPECT_EQ(0, DravikCloseDevice());
    EXPECT_EQ(0u, bench().probe(0).state.openHandles);
    bench().probe(0).config.targetAttached = true;
    EXPECT_EQ(0, Select(kSerial)) << "a selection after the close works";
    ASSERT_NE(nullptr, g_currentDevice);
    EXPECT_STREQ(kSerial, g_currentDevice);
}

TEST_F(InterfaceMisuseTest, ARefusedOldProbeStaysOpenUntilClosed) {
    sim::ProbeConfig old;
    old.generation = 2;
    old.jtagVersion = 30;
    old.productId = 0x0200;
    UseProbe(old);
    EnsureTraceBlocks(bench().probe(0));
    int status = -1;
    EXPECT_EQ(DRAVIK_REFUSED, DravikSelectDevice(kSerial, 0, &status));
    EXPECT_STREQ("Read generation", g_currentStep);
    EXPECT_STREQ("Generation of device DRAVIK-BENCH-0001 is too old, expecting 3 but got 2",
                 g_errorMsg);
    EXPECT_EQ(nullptr, g_currentDevice);
    EXPECT_EQ(DBGDEV_SERIAL_NOT_FOUND,
              DravikSelectDevice(kSerial, DRAVIK_SELECT_ALLOW_OLD, &status))
        << "the refused probe is still open";
    EXPECT_EQ(0, DravikCloseDevice());
    EXPECT_EQ(0, DravikSelectDevice(kSerial, DRAVIK_SELECT_ALLOW_OLD, &status));
}

TEST_F(InterfaceMisuseTest, NullPointersAndBadLengthsAreRefusedBeforeAnyTraffic) {
    Reach(State::Receiving);
    const uint64_t before = bench().exchangeCount();
    char text[8];
    int length = 4, size = 8, count = 0, status = 0;
    char buffer[8];
    EXPECT_EQ(DRAVIK_BAD_ARGUMENT, DravikLastError(text, nullptr));
    length = -1;
    EXPECT_EQ(DRAVIK_NO_MESSAGE, DravikLastWarning(text, &length)) << "no message is checked first";
    EXPECT_EQ(DRAVIK_BAD_ARGUMENT, DravikEnumerateDevices(nullptr, nullptr, &size, &count));
    EXPECT_EQ(DRAVIK_BAD_ARGUMENT, DravikSelectDevice(nullptr, 0, &status));
    EXPECT_EQ(DRAVIK_BAD_ARGUMENT, DravikSelectDevice(kSerial, 0, nullptr));
    EXPECT_EQ(DRAVIK_BAD_ARGUMENT, DravikGetDeviceStatus(nullptr));
    EXPECT_EQ(DRAVIK_BAD_ARGUMENT, DravikSetupDevice(72000000, 36, 1, 1, nullptr));
    EXPECT_EQ(DRAVIK_BAD_ARGUMENT, DravikReadSWVData(nullptr, 0, &length));
    EXPECT_EQ(DRAVIK_BAD_ARGUMENT, DravikReadSWVData(buffer, 0, nullptr));
    length = sizeof buffer;
    EXPECT_EQ(DRAVIK_BAD_ARGUMENT, DravikReadSWVData(buffer, -1, &length));
    EXPECT_EQ(DRAVIK_BAD_ARGUMENT, DravikStartSWVRead(INT_MIN, -1));
    EXPECT_EQ(DRAVIK_BAD_ARGUMENT, DravikReadMemory(0x20000000, nullptr, 8, nullptr));
    EXPECT_EQ(before, bench().exchangeCount());
    EXPECT_STREQ(kSerial, g_currentDevice) << "the selection stands";
}

}  // namespace
}  // namespace dravik::test
