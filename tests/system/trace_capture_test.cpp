// The typical trace capture from end to end against the bench's probe and target: every driver
// call and command record in order, then the bytes the host drained compared with what the
// target's program sent out of its SWO pin; loss when the host polls too late or offers too little
// room.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "CaptureFixture.h"

namespace dravik::test {
namespace {

// One entry of the wire log: a driver call other than a send, or a send with its record.
struct Step {
    sim::Call call = sim::Call::SendCommand;
    uint32_t index = 0;
    uint32_t option = 0;
    uint32_t size = 0;
    std::optional<ExpectedCommand> record;
};

Step Call(sim::Call call, uint32_t index = 0, uint32_t option = 0, uint32_t size = 0) {
    return Step{call, index, option, size, std::nullopt};
}
Step Send(ExpectedCommand record) {
    return Step{sim::Call::SendCommand, 0, 0, 0, std::move(record)};
}
std::vector<Step> Sends(const std::vector<ExpectedCommand>& records) {
    std::vector<Step> steps;
    for (const ExpectedCommand& record : records) {
        steps.push_back(Send(record));
    }
    return steps;
}
void Append(std::vector<Step>& steps, const std::vector<Step>& more) {
    steps.insert(steps.end(), more.begin(), more.end());
}

::testing::AssertionResult LogIs(const std::vector<sim::WireEntry>& log,
                                 const std::vector<Step>& expected) {
    std::string report;
    bool ok = log.size() == expected.size();
    for (size_t i = 0; i < std::max(log.size(), expected.size()); ++i) {
        std::string why;
        if (i >= log.size() || i >= expected.size()) {
            why = i >= log.size() ? "missing" : "unexpected: " + log[i].describe();
        } else if (log[i].call != expected[i].call) {
            why = std::string("expected ") + sim::CallName(expected[i].call) +
                  ", got: " + log[i].describe();
        } else if (expected[i].record) {
            const ::testing::AssertionResult same = SendsAre({log[i]}, {*expected[i].record});
            if (!same) {
                why = same.message();
            }
        } else if (log[i].index != expected[i].index || log[i].option != expected[i].option ||
                   log[i].size != expected[i].size) {
            why = "arguments differ: " + log[i].describe();
        }
        if (!why.empty()) {
            ok = false;
            report += "#" + std::to_string(i) + " " + why + "\n";
        }
    }
    if (ok) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << report;
}

constexpr uint32_t kDhcsr = 0xE000EDF0, kDemcr = 0xE000EDFC, kAircr = 0xE000ED0C,
                   kItmLsr = 0xE0000FB4, kItmLar = 0xE0000FB0, kTpiuType = 0xE0040FC8,
                   kTpiuAcpr = 0xE0040010, kTpiuSppr = 0xE00400F0, kItmTpr = 0xE0000E40,
                   kItmTer0 = 0xE0000E00, kItmTcr = 0xE0000E80;
constexpr uint32_t kDbgKey = 0xA05F0000, kVectKey = 0x05FA0000;

// Check-write of one register: read, write, read back.
std::vector<ExpectedCommand> CheckWrite(uint32_t address, uint32_t written) {
    return {DebugRead(address), DebugWrite(address, written), DebugRead(address)};
}

std::vector<Step> ListingCalls() {
    return {Call(sim::Call::Reenumerate), Call(sim::Call::GetNbDevices),
            Call(sim::Call::GetDeviceInfo2, 0, 0, sizeof(TDeviceInfo2))};
}

std::vector<Step> SelectionCalls() {
    std::vector<Step> steps = {
        // OpenDravik by serial number: the listing's enumeration is reused.
        Call(sim::Call::GetDeviceInfo2, 0, 0, sizeof(TDeviceInfo2)),
        Call(sim::Call::OpenDevice, 0, 0),
        Send(In({0xF1, 0x80}, 6)),   // version
        Send(In({0xFB, 0x80}, 12)),  // extended version of a third-generation probe
        // OpenTarget(1, 0, 0, 0, 1): out of DFU mode, SWD clock, voltage, SWD, access port 0.
        Send(ModeQuery()),
        Send(In({0xF3, 0x07}, 0)),
        Send(ModeQuery()),  // the clock command checks the mode first
        Send(In({0xF2, 0x61, 0x00, 0x00, 0x08, 0x07, 0x00, 0x00}, 8)),  // 1800 kHz requested
        Send(In({0xF7}, 8)),
        Send(In({0xF2, 0x30, 0xA3}, 2)),
        Send(In({0xF2, 0x4B, 0x00, 0x01}, 2, 0)),
        // ForceDebug: halt requests until the status shows the halt. The first read still shows
        // the sticky reset of power-up, which counts as "in reset", so the request goes twice.
        Send(DebugWrite(kDhcsr, kDbgKey | 0x0003)),
        Send(DebugRead(kDhcsr)),
        Send(DebugWrite(kDhcsr, kDbgKey | 0x0003)),
        Send(DebugRead(kDhcsr)),
        // Reset(1, 0, 1): vector catch, held-in-reset test, system reset, its wait, line release,
        // the wait for its end, xPSR, vector catch off.
        Send(DebugWrite(kDemcr, 0x00000001)),
        Send(DebugRead(kDhcsr)),
        Send(DebugWrite(kAircr, kVectKey | 0x0004)),
        Send(DebugRead(kDhcsr)),
        Send(In({0xF2, 0x3C, 0x01}, 2)),
        Send(DebugRead(kDhcsr)),
        Send(In({0xF2, 0x34, 0x10, 0x00, 0x00, 0x00, 0x01}, 2)),
        Send(DebugWrite(kDemcr, 0x00000000)),
        // ReadDeviceStatus.
        Send(DebugRead(kDhcsr)),
    };
    return steps;
}

std::vector<Step> SetupCalls() {
    std::vector<ExpectedCommand> records = CheckWrite(kDemcr, 0x01000000);
    const std::vector<std::vector<ExpectedCommand>> rest = {
        {DebugRead(kItmLsr), DebugWrite(kItmLar, 0xC5ACCE55), DebugRead(kItmLsr)},
        {DebugRead(kTpiuType)},
        CheckWrite(kTpiuAcpr, 35),
        CheckWrite(kTpiuSppr, 2),
        {DebugRead(kItmTpr)},
        CheckWrite(kItmTer0, 0xFFFFFFFF),
        CheckWrite(kItmTcr, 0x00000001),
        {StartReceiver(kSwoRateBps)},
    };
    for (const auto& group : rest) {
        records.insert(records.end(), group.begin(), group.end());
    }
    return Sends(records);
}

std::vector<Step> CloseCalls() {
    return {
        // CloseDevice(0): the target, then the probe.
        Send(ModeQuery()),
        Send(In({0xF2, 0x4C, 0x00}, 2, 0)),
        Send(In({0xF2, 0x21}, 0)),
        Call(sim::Call::CloseDevice),
        // The destructor finds nothing open, and releases the library.
        Call(sim::Call::FreeLibrary),
    };
}

TEST_F(CaptureTest, TypicalCaptureSendsEveryRecordInOrderAndDeliversTheProgramsBytes) {
    // 1. List.
    char list[256];
    int size = sizeof list, count = 0;
    ASSERT_EQ(0, DravikEnumerateDevices(nullptr, list, &size, &count));
    EXPECT_STREQ("DRAVIK-BENCH-0001\t769\t55200\n", list);
    // 2. Select: connected, halted after the reset.
    ASSERT_EQ(0, DravikSelectDevice(kBenchSerial, 0, &status_)) << g_errorMsg;
    EXPECT_EQ(DEVICE_HALTED, status_);
    EXPECT_STREQ(kBenchSerial, g_currentDevice);
    // 3. Set up the trace port.
    ASSERT_EQ(0, SetUpTrace()) << g_errorMsg;
    EXPECT_EQ(4, fifoSize_);
    EXPECT_TRUE(Probe().swv().running());
    EXPECT_EQ(kSwoRateBps, Probe().swv().rateBps());
    EXPECT_EQ(4000u, Probe().swv().capacity());
    // 4. Run.
    ASSERT_EQ(0, DravikRunDevice(&status_)) << g_errorMsg;
    EXPECT_EQ(DEVICE_RUNNING, status_);
    // 5. Poll twice: the program prints one line a millisecond from the moment the core runs.
    bench().clock.advance(10500);
    ASSERT_EQ(0, Poll()) << g_errorMsg;
    EXPECT_EQ(DefaultStream(1, 11), captured_);
    bench().clock.advance(10000);
    ASSERT_EQ(0, Poll()) << g_errorMsg;
    // 6. Stop and close.
    ASSERT_EQ(0, DravikStopSWVRead()) << g_errorMsg;
    const std::vector<uint8_t> sent = Probe().swoPinBytes();
    const sim::TraceRecord record = TraceBlocks().record();
    ASSERT_EQ(0, DravikCloseDevice());
    EXPECT_EQ(nullptr, g_dev);
    EXPECT_EQ(nullptr, g_currentDevice);

    std::vector<Step> expected = ListingCalls();
    Append(expected, SelectionCalls());
    Append(expected, SetupCalls());
    Append(expected, Sends({DebugWrite(kDhcsr, kDbgKey | 0x0001), DebugRead(kDhcsr)}));
    Append(expected, Sends({PendingCount(), Trace(165)}));
    Append(expected, Sends({PendingCount(), Trace(150), StopReceiver()}));
    Append(expected, CloseCalls());
    EXPECT_TRUE(LogIs(bench().log(), expected));
    EXPECT_TRUE(RecordsWellFormed(bench().log()));

    // Byte for byte what the program emitted, nothing lost, nothing made up.
    EXPECT_EQ(DefaultStream(1, 21), captured_);
    EXPECT_EQ(sent, captured_);
    EXPECT_EQ(9u * 4 + 12u * 3, record.instrumentationPackets) << "lines 10 on need no tail";
    EXPECT_EQ(0u, record.writesLost);
    EXPECT_EQ(0u, record.overflowPackets);
    EXPECT_EQ(0u, Probe().swv().counters().lost);
}

TEST_F(CaptureTest, PolledInTimeNothingIsLostOverManyPolls) {
    StartCapture();
    for (int i = 0; i < 60; ++i) {
        bench().clock.advance(i % 2 == 0 ? 7000 : 13000);  // 60 * 10 ms
        ASSERT_EQ(0, Poll()) << g_errorMsg;
    }
    ASSERT_EQ(0, DravikStopSWVRead());
    EXPECT_EQ(DefaultStream(1, 600), captured_);
    EXPECT_EQ(Probe().swoPinBytes(), captured_);
    EXPECT_EQ(0u, Probe().swv().counters().lost);
    EXPECT_EQ(captured_.size(), Probe().swv().counters().delivered);
}

TEST_F(CaptureTest, PolledTooLateTheBufferKeepsTheOldestBytesAndCountsTheLoss) {
    StartCapture();
    bench().clock.advance(400000);  // 400 lines, more than 4000 bytes
    ASSERT_EQ(0, Poll()) << g_errorMsg;
    const std::vector<uint8_t> sent = DefaultStream(1, 400);
    ASSERT_EQ(sent, Probe().swoPinBytes());
    ASSERT_EQ(4000u, captured_.size());
    EXPECT_EQ(std::vector<uint8_t>(sent.begin(), sent.begin() + 4000), captured_);
    EXPECT_EQ(sent.size() - 4000, Probe().swv().counters().lost);
    EXPECT_EQ(sent.size(), Probe().swv().counters().received);
    EXPECT_TRUE(SentExactly({PendingCount(), Trace(4000)}));

    // The next poll picks up where the line is now.
    bench().clock.advance(1000);
    ASSERT_EQ(0, Poll()) << g_errorMsg;
    EXPECT_EQ(DefaultIteration(401),
              std::vector<uint8_t>(captured_.begin() + 4000, captured_.end()));
}

TEST_F(CaptureTest, TooLittleRoomDiscardsThePendingBytesAndTheNextPollStartsAfresh) {
    StartCapture();
    bench().clock.advance(10500);
    std::vector<char> buffer(200, '#');
    int length = 100;
    EXPECT_EQ(403, DravikReadSWVData(buffer.data(), 0, &length));
    EXPECT_STREQ("Buffer is too small, data is lost", g_errorMsg);
    EXPECT_EQ(100, length);
    EXPECT_EQ(std::vector<char>(200, '#'), buffer);
    EXPECT_TRUE(SentExactly({PendingCount(), Trace(165)}));
    EXPECT_EQ(0u, Probe().swv().pending());

    bench().clock.advance(10000);
    ASSERT_EQ(0, Poll()) << g_errorMsg;
    EXPECT_EQ(DefaultStream(12, 21), captured_);
}

TEST_F(CaptureTest, StoppedReceiverCollectsNothingUntilStartedAgain) {
    StartCapture();
    bench().clock.advance(5500);
    ASSERT_EQ(0, DravikStopSWVRead());
    bench().clock.advance(10000);  // lines 7..16 leave the pin unheard
    ASSERT_EQ(0, Poll()) << g_errorMsg;
    EXPECT_EQ(DefaultStream(1, 6), captured_) << "what was kept before the stop stays readable";
    ASSERT_EQ(0, DravikStartSWVRead(kTraceClockHz, kPrescaler)) << g_errorMsg;
    EXPECT_TRUE(Probe().swv().running());
    bench().clock.advance(3000);
    captured_.clear();
    ASSERT_EQ(0, Poll()) << g_errorMsg;
    EXPECT_EQ(DefaultStream(17, 19), captured_);
}

}  // namespace
}  // namespace dravik::test
