// DravikReadSWVData, DravikStartSWVRead, DravikStopSWVRead and DravikReadMemory against the bench:
// where the pending bytes land, what a short buffer costs, the arguments refused before any probe
// traffic, the discard in pieces that fit g_dummyBuffer, and memory read from the target's SRAM.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <numeric>
#include <vector>

#include "CaptureFixture.h"

namespace dravik::test {
namespace {

constexpr char kCanary = '#';

std::vector<uint8_t> Ramp(size_t count, uint8_t first = 0x40) {
    std::vector<uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

class StreamingTest : public CaptureTest {
  protected:
    // A selected probe whose receiver runs; the target sends nothing (trace not set up), so the
    // pending bytes are exactly those fed.
    void SetUp() override {
        CaptureTest::SetUp();
        ASSERT_EQ(0, Select()) << g_errorMsg;
        ASSERT_EQ(0, DravikStartSWVRead(kTraceClockHz, kPrescaler)) << g_errorMsg;
        bench().clearLog();
    }
    void Feed(const std::vector<uint8_t>& bytes) { Probe().feedSwv(bytes.data(), bytes.size()); }
    std::vector<char> buffer_ = std::vector<char>(200, kCanary);
};

TEST_F(StreamingTest, NothingPendingCostsOneExchange) {
    int length = 150;
    EXPECT_EQ(0, DravikReadSWVData(buffer_.data(), 0, &length));
    EXPECT_EQ(0, length);
    EXPECT_STREQ("No SWV records", g_currentStep);
    EXPECT_TRUE(SentExactly({PendingCount()}));
    EXPECT_EQ(std::vector<char>(200, kCanary), buffer_);
}

TEST_F(StreamingTest, PendingBytesLandAtTheOffsetWhenTheyFit) {
    struct Row {
        int offset;
        int capacity;
        int result;
    };
    // 100 pending bytes each time.
    const Row rows[] = {
        {50, 150, 0},                     // fills 50..149 exactly
        {0, 100, 0},                      // exactly the capacity
        {51, 150, 403},                   // one byte short
        {0, 99, 403},   {200, 150, 403},  // an offset beyond the capacity leaves negative room
        {0, 0, 403},    {0, -5, 403},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "offset " << row.offset << " capacity " << row.capacity);
        std::vector<char> buffer(400, kCanary);
        const std::vector<uint8_t> trace = Ramp(100);
        Feed(trace);
        bench().clearLog();
        int length = row.capacity;
        EXPECT_EQ(row.result, DravikReadSWVData(buffer.data(), row.offset, &length));
        EXPECT_TRUE(SentExactly({PendingCount(), Trace(100)}));
        EXPECT_EQ(0u, Probe().swv().pending()) << "fetched or gone";
        std::vector<char> expected(400, kCanary);
        if (row.result == 0) {
            EXPECT_EQ(100, length);
            EXPECT_STREQ("", g_errorMsg);
            std::copy(trace.begin(), trace.end(), expected.begin() + row.offset);
        } else {
            EXPECT_EQ(row.capacity, length);
            EXPECT_STREQ("Buffer is too small, data is lost", g_errorMsg);
        }
        EXPECT_EQ(expected, buffer);
    }
}

TEST_F(StreamingTest, BadArgumentsAreRefusedBeforeAnyTrafficAndWriteNothing) {
    Feed(Ramp(100));
    int length = 150;
    EXPECT_EQ(20, DravikReadSWVData(buffer_.data(), -1, &length));
    EXPECT_STREQ("Unable to read SWV data, negative offset", g_errorMsg);
    EXPECT_EQ(150, length);
    EXPECT_EQ(20, DravikReadSWVData(buffer_.data(), 0, nullptr));
    EXPECT_STREQ("Unable to read SWV data, null length", g_errorMsg);
    EXPECT_EQ(20, DravikReadSWVData(nullptr, 0, &length));
    EXPECT_STREQ("Unable to read SWV data, null buffer", g_errorMsg);
    EXPECT_EQ(150, length);
    EXPECT_EQ(std::vector<char>(200, kCanary), buffer_);
    EXPECT_TRUE(bench().log().empty());
    EXPECT_EQ(100u, Probe().swv().pending()) << "a refused call costs no trace data";
}

TEST_F(StreamingTest, MoreThanFourThousandPendingAreDiscardedInPiecesThatFitTheSink) {
    // A receiver another host started with a larger buffer.
    Probe().startSwv(kSwoRateBps, 9000);
    Feed(Ramp(9000));
    bench().clearLog();
    int length = 100;
    EXPECT_EQ(403, DravikReadSWVData(buffer_.data(), 0, &length));
    EXPECT_TRUE(SentExactly({PendingCount(), Trace(4000), Trace(4000), Trace(1000)}));
    EXPECT_EQ(0u, Probe().swv().pending());
    EXPECT_EQ(std::vector<char>(200, kCanary), buffer_);
    const std::vector<uint8_t> all = Ramp(9000);
    EXPECT_EQ(0, std::memcmp(g_dummyBuffer, all.data() + 8000, 1000)) << "the last piece";

    // With room enough they go to the host in one fetch.
    Feed(Ramp(9000, 7));
    bench().clearLog();
    std::vector<char> large(9000, kCanary);
    length = 9000;
    EXPECT_EQ(0, DravikReadSWVData(large.data(), 0, &length));
    EXPECT_EQ(9000, length);
    EXPECT_TRUE(SentExactly({PendingCount(), Trace(9000)}));
    const std::vector<uint8_t> again = Ramp(9000, 7);
    EXPECT_EQ(0, std::memcmp(large.data(), again.data(), 9000));
}

TEST_F(StreamingTest, PendingCountFailureLeavesOnlyAWarning) {
    Feed(Ramp(10));
    bench().injectFault(1, sim::Fault{});
    int length = 150;
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, DravikReadSWVData(buffer_.data(), 0, &length));
    EXPECT_STREQ("Unable to read SWV record size, status: 3", g_warningMsg);
    EXPECT_STREQ("", g_errorMsg);
    EXPECT_EQ(150, length);
    EXPECT_EQ(10u, Probe().swv().pending());
}

TEST_F(StreamingTest, FetchFailureReportsItsStatusWithTheCount) {
    Feed(Ramp(10));
    bench().injectFault(2, sim::Fault{});
    int length = 150;
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, DravikReadSWVData(buffer_.data(), 0, &length));
    EXPECT_STREQ("Unable to read SWV records, status: 3", g_errorMsg);
    EXPECT_EQ(10, length);
}

// A rate of 0 or below would reach the probe as a huge unsigned one.
TEST_F(StreamingTest, StartRefusesAZeroPrescalerAndARateThatIsNotPositive) {
    struct Row {
        int clock;
        int prescaler;
        const char* error;
    };
    const Row rows[] = {
        {kTraceClockHz, 0, "Unable to start SWV Trace Reception, bad prescaler: 0"},
        {INT_MIN, -1, "Unable to start SWV Trace Reception, bad prescaler: -1"},
        {0, 36, "Unable to start SWV Trace Reception, no SWO rate from 0 / 36"},
        {35, 36, "Unable to start SWV Trace Reception, no SWO rate from 35 / 36"},
        {-kTraceClockHz, 36,
         "Unable to start SWV Trace Reception, no SWO rate from -72000000 / 36"},
        {kTraceClockHz, -36,
         "Unable to start SWV Trace Reception, no SWO rate from 72000000 / -36"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.prescaler);
        EXPECT_EQ(20, DravikStartSWVRead(row.clock, row.prescaler));
        EXPECT_STREQ(row.error, g_errorMsg);
        EXPECT_TRUE(bench().log().empty());
    }
    // Any other quotient is sent as it comes, truncated toward zero.
    EXPECT_EQ(0, DravikStartSWVRead(1000001, 2));
    EXPECT_EQ(0, DravikStartSWVRead(-1000001, -2));
    EXPECT_TRUE(SentExactly({StartReceiver(500000), StartReceiver(500000)}));
    EXPECT_STREQ("Starting SWV Trace Reception", g_currentStep);
    EXPECT_EQ(500000u, Probe().swv().rateBps());
}

TEST_F(StreamingTest, StartAndStopFailuresNameTheirStatus) {
    bench().script(sim::ScriptedAnswer::Status(0x0081).When({0xF2, 0x40}));
    EXPECT_EQ(DBGDEV_PROBE_ERROR, DravikStartSWVRead(kTraceClockHz, kPrescaler));
    EXPECT_STREQ("Unable to start SWV Trace Reception, status: 19", g_errorMsg);
    bench().script(sim::ScriptedAnswer::Status(0x0081).When({0xF2, 0x41}));
    EXPECT_EQ(DBGDEV_PROBE_ERROR, DravikStopSWVRead());
    EXPECT_STREQ("Unable to stop SWV Trace Reception, status: 19", g_errorMsg);
    EXPECT_STREQ("Stop SWV Trace Reception", g_currentStep);
    EXPECT_EQ(0, DravikStopSWVRead());
    EXPECT_FALSE(Probe().swv().running());
}

TEST_F(StreamingTest, MemoryReadChecksTheAddressFirstThenTheSize) {
    struct Row {
        unsigned address;
        unsigned short size;
        const char* error;
    };
    const Row rows[] = {
        {0x20000002, 6, "Unable to read memory, address must be 4-byte aligned"},
        {0x20000002, 8, "Unable to read memory, address must be 4-byte aligned"},
        {0x20000000, 6, "Unable to read memory, buffer must be 4-byte aligned"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.error);
        unsigned char buffer[8] = {};
        EXPECT_EQ(20, DravikReadMemory(row.address, buffer, row.size, nullptr));
        EXPECT_STREQ(row.error, g_errorMsg);
        EXPECT_TRUE(bench().log().empty());
    }
    unsigned rwStatus = 0xDEAD;
    EXPECT_EQ(0, DravikReadMemory(0x20000000, nullptr, 0, &rwStatus)) << "size 0: no traffic";
    EXPECT_TRUE(bench().log().empty());
    EXPECT_EQ(0xDEADu, rwStatus);
}

TEST_F(StreamingTest, MemoryReadReturnsTheTargetsSram) {
    const std::vector<uint8_t> image = Ramp(16, 0x90);
    ASSERT_TRUE(Target().loadMemory(0x20000100, image.data(), image.size()));
    std::vector<unsigned char> buffer(24, 0xEE);
    unsigned rwStatus = 0;
    EXPECT_EQ(0, DravikReadMemory(0x200000FC, buffer.data(), 24, &rwStatus)) << g_errorMsg;
    EXPECT_STREQ("Reading memory", g_currentStep);
    std::vector<unsigned char> expected;
    for (uint32_t offset = 0xFC; offset < 0x100; ++offset) {
        expected.push_back(sim::sramCanaryByte(offset));  // never written
    }
    expected.insert(expected.end(), image.begin(), image.end());
    for (uint32_t offset = 0x110; offset < 0x114; ++offset) {
        expected.push_back(sim::sramCanaryByte(offset));
    }
    EXPECT_EQ(expected, buffer);
    EXPECT_EQ(0u, rwStatus) << "the last transfer's fault address: none";
}

TEST_F(StreamingTest, MemoryReadOutsideTheMapFailsWithItsStatus) {
    unsigned char buffer[8] = {};
    unsigned rwStatus = 0;
    const int result = DravikReadMemory(0x60000000, buffer, 8, &rwStatus);
    EXPECT_EQ(DBGDEV_AP_FAULT, result);
    EXPECT_EQ(0x60000000u, rwStatus) << "the first unit that faulted";
    char expected[64];
    std::snprintf(expected, sizeof expected, "Unable to read memory, status: %d", result);
    EXPECT_STREQ(expected, g_errorMsg);
}

}  // namespace
}  // namespace dravik::test
