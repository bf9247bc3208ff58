// The SWV receiver commands: exact command bytes, the pending count and fetch round trip against
// the bench's receiver, stop, loss on a full buffer, and the firmware gate before any parameter.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "DbgDevFixture.h"
#include "WireExpect.h"

namespace dravik::test {
namespace {

using sim::ScriptedAnswer;

constexpr uint8_t kCanary = 0xEE;

std::vector<uint8_t> Ramp(size_t count, uint8_t first = 0) {
    std::vector<uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

class TraceReceptionTest : public BenchTest {
  protected:
    // Opens the probe and puts it in debug mode, as connecting to the target would.
    DbgDev& OpenAttached() {
        DbgDev& dev = OpenDevice();
        probe().state.mode = sim::kModeDebug;
        return dev;
    }
    sim::SimProbe& probe() { return bench().probe(0); }
    void Feed(const std::vector<uint8_t>& bytes) { probe().feedSwv(bytes.data(), bytes.size()); }
};

TEST_F(TraceReceptionTest, StartSendsBufferSizeThenRate) {
    DbgDev& dev = OpenAttached();
    EXPECT_EQ(0, dev.StartSWVTraceReception(2000000, 4000));
    EXPECT_TRUE(SentExactly({In({0xF2, 0x40, 0xA0, 0x0F, 0x80, 0x84, 0x1E, 0x00}, 2)}));
    EXPECT_TRUE(RecordsWellFormed(bench().log()));
    EXPECT_TRUE(probe().swv().running());
    EXPECT_EQ(2000000u, probe().swv().rateBps());
    EXPECT_EQ(4000u, probe().swv().capacity());
    EXPECT_EQ(0u, probe().swv().pending());
}

TEST_F(TraceReceptionTest, StopSendsItsCommandAndTheReceiverStops) {
    DbgDev& dev = OpenAttached();
    ASSERT_EQ(0, dev.StartSWVTraceReception(115200, 64));
    bench().clearLog();
    EXPECT_EQ(0, dev.StopSWVTraceReception());
    EXPECT_TRUE(SentExactly({In({0xF2, 0x41}, 2)}));
    EXPECT_FALSE(probe().swv().running());
    EXPECT_EQ(115200u, probe().swv().rateBps()) << "the started rate stays readable";
}

TEST_F(TraceReceptionTest, PendingCountAndFetchRoundTrip) {
    DbgDev& dev = OpenAttached();
    ASSERT_EQ(0, dev.StartSWVTraceReception(2000000, 4000));
    const std::vector<uint8_t> trace = Ramp(300, 0x40);
    Feed(trace);
    bench().clearLog();

    unsigned short count = 0xBEEF;
    EXPECT_EQ(0, dev.GetSWVTraceNewRecordNb(&count));
    EXPECT_EQ(300, count);
    std::vector<uint8_t> data(count + 4, kCanary);
    EXPECT_EQ(0, dev.GetSWVTraceRecords(data.data(), count));
    EXPECT_TRUE(SentExactly({In({0xF2, 0x42}, 2), Trace(300)}));
    EXPECT_TRUE(RecordsWellFormed(bench().log()));
    EXPECT_EQ((std::vector<uint8_t>{0x2C, 0x01}), bench().sends()[0].received);

    EXPECT_TRUE(std::equal(trace.begin(), trace.end(), data.begin()));
    EXPECT_EQ(std::vector<uint8_t>(4, kCanary), std::vector<uint8_t>(data.end() - 4, data.end()))
        << "nothing beyond the count asked for";
    EXPECT_EQ(0, dev.GetSWVTraceNewRecordNb(&count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(300u, probe().swv().counters().received);
    EXPECT_EQ(300u, probe().swv().counters().delivered);
    EXPECT_EQ(0u, probe().swv().counters().lost);
}

TEST_F(TraceReceptionTest, FetchesInPiecesDeliverOldestFirst) {
    DbgDev& dev = OpenAttached();
    ASSERT_EQ(0, dev.StartSWVTraceReception(2000000, 8));
    Feed({1, 2, 3, 4, 5, 6});
    uint8_t first[4] = {};
    ASSERT_EQ(0, dev.GetSWVTraceRecords(first, 4));
    Feed({7, 8, 9, 10, 11});  // wraps around the 8-byte buffer
    unsigned short count = 0;
    ASSERT_EQ(0, dev.GetSWVTraceNewRecordNb(&count));
    ASSERT_EQ(7, count);
    uint8_t rest[7] = {};
    ASSERT_EQ(0, dev.GetSWVTraceRecords(rest, count));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4}), std::vector<uint8_t>(first, first + 4));
    EXPECT_EQ((std::vector<uint8_t>{5, 6, 7, 8, 9, 10, 11}), std::vector<uint8_t>(rest, rest + 7));
}

TEST_F(TraceReceptionTest, FullBufferKeepsTheOldestAndCountsTheLoss) {
    DbgDev& dev = OpenAttached();
    ASSERT_EQ(0, dev.StartSWVTraceReception(2000000, 16));
    Feed(Ramp(10));
    Feed(Ramp(10, 10));
    unsigned short count = 0;
    ASSERT_EQ(0, dev.GetSWVTraceNewRecordNb(&count));
    EXPECT_EQ(16, count);
    std::vector<uint8_t> data(16);
    ASSERT_EQ(0, dev.GetSWVTraceRecords(data.data(), count));
    EXPECT_EQ(Ramp(16), data);
    const sim::SwvCounters& counters = probe().swv().counters();
    EXPECT_EQ(20u, counters.received);
    EXPECT_EQ(16u, counters.delivered);
    EXPECT_EQ(4u, counters.lost);
}

TEST_F(TraceReceptionTest, StoppedReceiverCollectsNothingAndARestartEmptiesIt) {
    DbgDev& dev = OpenAttached();
    Feed(Ramp(3));  // before any start
    ASSERT_EQ(0, dev.StartSWVTraceReception(2000000, 100));
    Feed(Ramp(5));
    ASSERT_EQ(0, dev.StopSWVTraceReception());
    Feed(Ramp(7));
    unsigned short count = 0;
    ASSERT_EQ(0, dev.GetSWVTraceNewRecordNb(&count));
    EXPECT_EQ(5, count) << "bytes kept before the stop stay readable";
    EXPECT_EQ(5u, probe().swv().counters().received);

    ASSERT_EQ(0, dev.StartSWVTraceReception(1000000, 100));
    ASSERT_EQ(0, dev.GetSWVTraceNewRecordNb(&count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(5u, probe().swv().counters().discarded);
    EXPECT_EQ(1000000u, probe().swv().rateBps());
}

TEST_F(TraceReceptionTest, FetchBeyondThePendingBytesCompletesShort) {
    DbgDev& dev = OpenAttached();
    ASSERT_EQ(0, dev.StartSWVTraceReception(2000000, 100));
    Feed({0x11, 0x22, 0x33});
    std::vector<uint8_t> data(8, kCanary);
    EXPECT_EQ(0, dev.GetSWVTraceRecords(data.data(), 8));
    EXPECT_EQ((std::vector<uint8_t>{0x11, 0x22, 0x33, kCanary, kCanary, kCanary, kCanary, kCanary}),
              data);
    EXPECT_EQ(1u, probe().swv().counters().shortReads);
    EXPECT_EQ(3u, probe().swv().counters().delivered);
}

TEST_F(TraceReceptionTest, FetchOfNothingSendsAReadWithoutBuffer) {
    DbgDev& dev = OpenAttached();
    uint8_t data[1] = {kCanary};
    EXPECT_EQ(0, dev.GetSWVTraceRecords(data, 0));
    EXPECT_TRUE(SentExactly({Trace(0)}));
    EXPECT_EQ(kCanary, data[0]);
}

TEST_F(TraceReceptionTest, ProbeRefusesToStartOutsideDebugMode) {
    DbgDev& dev = OpenDevice();  // still in DFU mode
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.StartSWVTraceReception(2000000, 4000));
    EXPECT_EQ("Error (0x83) after target cmd F2 40 A0 0F 80 84 1E 00 00 00", log_.last());
    EXPECT_FALSE(probe().swv().running());
}

TEST_F(TraceReceptionTest, NullPointersAreRefusedWithoutTraffic) {
    DbgDev& dev = OpenAttached();
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.GetSWVTraceNewRecordNb(nullptr));
    EXPECT_EQ(DBGDEV_BAD_ARGUMENT, dev.GetSWVTraceRecords(nullptr, 10));
    EXPECT_TRUE(bench().log().empty());
    EXPECT_TRUE(log_.lines().empty());
}

TEST_F(TraceReceptionTest, TransportResultsComeBackUnchanged) {
    DbgDev& dev = OpenAttached();
    bench().script(ScriptedAnswer::Status(0x0081));
    EXPECT_EQ(DBGDEV_PROBE_ERROR, dev.StartSWVTraceReception(2000000, 4000));
    bench().script(ScriptedAnswer::Transport(sim::drv::kFailure));
    EXPECT_EQ(DBGDEV_EXCHANGE_FAILURE, dev.StopSWVTraceReception());
    // The count has no status word: any two bytes are the count.
    bench().script(ScriptedAnswer::Bytes({0x81, 0x00}));
    unsigned short count = 0;
    EXPECT_EQ(0, dev.GetSWVTraceNewRecordNb(&count));
    EXPECT_EQ(0x81, count);
}

TEST_F(TraceReceptionTest, ClosedProbeGives26) {
    DbgDev& dev = MakeDevice();
    DbgDevTestPeer::SetVersion(dev, 3, 7);  // gates pass: the transport refuses
    unsigned short count = 0;
    uint8_t data[4] = {};
    EXPECT_EQ(DBGDEV_NO_PROBE, dev.StartSWVTraceReception(2000000, 4000));
    EXPECT_EQ(DBGDEV_NO_PROBE, dev.StopSWVTraceReception());
    EXPECT_EQ(DBGDEV_NO_PROBE, dev.GetSWVTraceNewRecordNb(&count));
    EXPECT_EQ(DBGDEV_NO_PROBE, dev.GetSWVTraceRecords(data, 4));
    EXPECT_TRUE(bench().log().empty());
}

// The gate comes before every parameter check: null pointers give 21 on old firmware.
TEST_F(TraceReceptionTest, OldFirmwareIsRefusedBeforeAnythingIsSent) {
    for (uint8_t generation : {uint8_t{1}, uint8_t{2}}) {
        SCOPED_TRACE(int(generation));
        sim::ProbeConfig config = TestProbe(2, 12);
        config.generation = generation;
        if (generation == 1) {
            config.jtagVersion = 13;  // first-generation firmware recent enough to open
            config.productId = config.infoProductId = DRAVIK_PRODUCT_ID_V1;
        }
        UseProbe(config);
        DbgDev& dev = OpenDevice();
        unsigned short count = 0;
        uint8_t data[4] = {};
        EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.StartSWVTraceReception(2000000, 4000));
        EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.StopSWVTraceReception());
        EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.GetSWVTraceNewRecordNb(&count));
        EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.GetSWVTraceNewRecordNb(nullptr));
        EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.GetSWVTraceRecords(data, 4));
        EXPECT_EQ(DBGDEV_NOT_SUPPORTED, dev.GetSWVTraceRecords(nullptr, 4));
        EXPECT_TRUE(bench().log().empty());
        ASSERT_EQ(6u, log_.lines().size());
        const std::string expected =
            "The detected Orvane firmware version (V" + std::to_string(generation) + ".J" +
            std::to_string(config.jtagVersion) + ") does not support the SWV trace commands.";
        for (const std::string& line : log_.lines()) {
            EXPECT_EQ(expected, line);
        }
    }
}

TEST_F(TraceReceptionTest, FirstSupportingFirmwareSendsTheCommands) {
    UseProbe(TestProbe(2, 13));
    DbgDev& dev = OpenDevice();
    probe().state.mode = sim::kModeDebug;
    EXPECT_EQ(0, dev.StartSWVTraceReception(2000000, 4000));
    EXPECT_EQ(0, dev.StopSWVTraceReception());
    EXPECT_TRUE(SentExactly(
        {In({0xF2, 0x40, 0xA0, 0x0F, 0x80, 0x84, 0x1E, 0x00}, 2), In({0xF2, 0x41}, 2)}));
}

}  // namespace
}  // namespace dravik::test
