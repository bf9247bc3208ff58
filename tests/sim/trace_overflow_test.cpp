// ITM FIFO overflow: a firmware that outpaces the SWO line loses writes, and one overflow packet
// stands in the stream for each run of lost writes; a polling firmware loses nothing.

#include <gtest/gtest.h>

#include "trace_test_support.h"

namespace dravik::sim {
namespace {

using namespace trace;
using tracetest::Packet;

TraceConfig burstConfig(bool waitForFifoReady) {
    TraceConfig config;
    config.itmFifoBytes = 2;  // raised to the minimum of one word packet
    config.program = ScriptedTraceProgram{
        {{0, 0, 4, 1}, {0, 0, 4, 2}, {0, 0, 4, 3}, {100, 0, 4, 4}}, waitForFifoReady};
    return config;
}

TEST(ItmOverflow, LostWritesLeaveOneOverflowPacketPerRun) {
    TraceUnit unit(burstConfig(false));
    tracetest::setUpSwo(unit);
    unit.advance(1000, tracetest::kRunning);
    // Write 1 fills the FIFO (its header already on the line), 2 and 3 are lost, 4 finds room.
    EXPECT_EQ(tracetest::hex(unit.takeSwo()), "03 01 00 00 00 70 03 04 00 00 00");
    EXPECT_EQ(unit.record().writesLost, 2u);
    EXPECT_EQ(unit.record().overflowPackets, 1u);
    EXPECT_EQ(unit.record().instrumentationPackets, 2u);
}

TEST(ItmOverflow, PollingFirmwareWaitsForRoom) {
    TraceUnit unit(burstConfig(true));
    tracetest::setUpSwo(unit);
    unit.advance(1000, tracetest::kRunning);
    EXPECT_EQ(tracetest::hex(unit.takeSwo()),
              "03 01 00 00 00 03 02 00 00 00 03 03 00 00 00 03 04 00 00 00");
    EXPECT_EQ(unit.record().writesLost, 0u);
    EXPECT_EQ(unit.record().overflowPackets, 0u);
}

TEST(ItmOverflow, DebuggerWriteIntoAFullFifoIsLostToo) {
    TraceConfig config;
    config.program = IdleTraceProgram{};
    config.itmFifoBytes = 5;
    TraceUnit unit(config);
    tracetest::setUpSwo(unit, {}, 0, tracetest::kHalted);
    unit.write32(itm::kStimBase + 8, 0xA1A2A3A4, 0);
    unit.write32(itm::kStimBase + 8, 0xB1B2B3B4, 0);
    unit.advance(100, tracetest::kHalted);
    EXPECT_EQ(tracetest::hex(unit.takeSwo()), "13 A4 A3 A2 A1 70");
    EXPECT_EQ(unit.record().debuggerWrites, 1u);
    EXPECT_EQ(unit.record().writesLost, 1u);
}

TEST(ItmOverflow, SequenceFasterThanTheLineShowsEveryLossInTheStream) {
    TraceConfig config;
    config.program = SequenceTraceProgram{100000, 0, 1000, false};  // 2.5 times the line's rate
    TraceUnit unit(config);
    tracetest::setUpSwo(unit);
    unit.advance(100000, tracetest::kRunning);  // long enough to drain
    const auto stream = unit.takeSwo();
    const TraceRecord& record = unit.record();
    EXPECT_EQ(record.instrumentationPackets + record.writesLost, 1000u);
    EXPECT_GT(record.writesLost, 500u);
    EXPECT_EQ(stream, record.pinBytes);

    uint64_t missing = 0;
    uint64_t overflows = 0;
    int64_t last = -1;
    bool overflowSeen = false;
    for (const Packet& p : tracetest::splitItm(stream)) {
        if (p.kind == Packet::Kind::Overflow) {
            ++overflows;
            overflowSeen = true;
            continue;
        }
        ASSERT_EQ(p.kind, Packet::Kind::Instrumentation) << "at " << p.offset;
        const int64_t gap = static_cast<int64_t>(p.value) - last - 1;
        ASSERT_GE(gap, 0);
        EXPECT_EQ(gap > 0, overflowSeen) << "value " << p.value;
        missing += static_cast<uint64_t>(gap);
        last = p.value;
        overflowSeen = false;
    }
    missing += static_cast<uint64_t>(999 - last);
    EXPECT_EQ(missing, record.writesLost);
    EXPECT_EQ(overflows, record.overflowPackets);
}

}  // namespace
}  // namespace dravik::sim
