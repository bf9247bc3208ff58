// SWO timing: bytes leave at trace clock / (ACPR + 1) with 10 bit periods a byte for NRZ and 20 for
// Manchester, and the output does not depend on how time is handed in.

#include <gtest/gtest.h>

#include "DravikBench/TraceConfig.h"
#include "trace_test_support.h"

namespace dravik::sim {
namespace {

using namespace trace;
using Bytes = std::vector<uint8_t>;

// A firmware that keeps the line saturated from time 0 on (word writes faster than it carries).
TraceConfig saturatingConfig(uint32_t writesPerSecond = 100000) {
    TraceConfig config;
    config.program = SequenceTraceProgram{writesPerSecond, 0, 0, false};
    return config;
}

TEST(SwoTiming, NrzAt72MHzAndAcpr35Sends200BytesPerMillisecond) {
    TraceUnit unit(saturatingConfig());
    tracetest::setUpSwo(unit);
    const SwoLine line = unit.swoLine();
    EXPECT_EQ(line.encoding, SwoEncoding::Nrz);
    EXPECT_EQ(line.prescaler, 36u);
    EXPECT_DOUBLE_EQ(line.bitRate(), 2000000.0);
    EXPECT_EQ(line.cyclesPerByte(), 360u);

    unit.advance(999, tracetest::kRunning);
    EXPECT_EQ(unit.takeSwo().size(), 199u);  // the 200th frame ends at exactly 1 ms
    unit.advance(1000, tracetest::kRunning);
    EXPECT_EQ(unit.takeSwo().size(), 1u);
    unit.advance(2000, tracetest::kRunning);
    EXPECT_EQ(unit.takeSwo().size(), 200u);
    unit.advance(1002000, tracetest::kRunning);
    EXPECT_EQ(unit.takeSwo().size(), 200000u);
    EXPECT_EQ(unit.record().bytesSent, 200400u);
}

TEST(SwoTiming, BytesPerMillisecondForPrescalerEncodingAndTraceClock) {
    const struct {
        uint32_t clockHz;
        uint32_t traceClockHz;  // 0: the core clock
        uint32_t acpr;
        uint32_t sppr;
        uint64_t bytesIn10ms;
    } cases[] = {
        {72000000, 0, 35, tpiu::kSpprNrz, 2000},
        {72000000, 0, 35, tpiu::kSpprManchester, 1000},
        {72000000, 0, 0, tpiu::kSpprNrz, 72000},
        {72000000, 0, 71, tpiu::kSpprNrz, 1000},
        {72000000, 0, 6, tpiu::kSpprNrz, 10285},  // 720000 cycles / 70 per byte
        {16000000, 0, 7, tpiu::kSpprNrz, 2000},
        {168000000, 0, 83, tpiu::kSpprManchester, 1000},
        // The TPIU divides its own clock: half the core's, or one unrelated to it.
        {72000000, 36000000, 35, tpiu::kSpprNrz, 1000},
        {72000000, 36000000, 17, tpiu::kSpprNrz, 2000},
        {64000000, 48000000, 23, tpiu::kSpprNrz, 2000},
        {48000000, 7000000, 6, tpiu::kSpprNrz, 1000},
    };
    for (const auto& c : cases) {
        TraceConfig config = saturatingConfig(3000000);
        config.coreClockHz = c.clockHz;
        config.traceClockHz = c.traceClockHz;
        config.itmFifoBytes = 64;
        TraceUnit unit(config);
        tracetest::setUpSwo(unit, {c.acpr, c.sppr});
        EXPECT_EQ(unit.swoLine().clockHz, c.traceClockHz ? c.traceClockHz : c.clockHz);
        unit.advance(10000, tracetest::kRunning);
        EXPECT_EQ(unit.takeSwo().size(), c.bytesIn10ms)
            << c.clockHz << " Hz, trace clock " << c.traceClockHz << ", ACPR " << c.acpr
            << ", SPPR " << c.sppr;
    }
}

TEST(SwoTiming, TraceClockChangesFromTheNextFrameOn) {
    TraceUnit unit(saturatingConfig());
    tracetest::setUpSwo(unit);             // 72 MHz / 36: 5 us a byte
    unit.setTraceClockHz(36000000, 1002);  // 10 us a byte from the frame starting at 1005 us on
    unit.advance(2005, tracetest::kRunning);
    EXPECT_EQ(unit.takeSwo().size(), 201u + 100u);
    EXPECT_EQ(unit.swoLine().clockHz, 36000000u);
    unit.setTraceClockHz(0, 2005);  // back to the core clock, after the frame that starts at 2005
    unit.advance(3005, tracetest::kRunning);
    EXPECT_EQ(unit.takeSwo().size(), 1u + 198u);
}

TEST(SwoTiming, AFrameKeepsTheRateItStartedWith) {
    TraceConfig config;
    config.program = IdleTraceProgram{};
    TraceUnit unit(config);
    tracetest::setUpSwo(unit, {}, 0, tracetest::kHalted);
    unit.write32(itm::kStimBase, 0x44332211, 0);  // five bytes, 5 us each
    unit.write32(tpiu::kAcpr, 71, 2);             // 10 us each from the next frame on
    unit.advance(5, tracetest::kHalted);
    EXPECT_EQ(unit.takeSwo().size(), 1u);
    unit.advance(14, tracetest::kHalted);
    EXPECT_EQ(unit.takeSwo().size(), 0u);
    unit.advance(15, tracetest::kHalted);
    EXPECT_EQ(unit.takeSwo().size(), 1u);

    const auto segments = [&] {
        unit.advance(100, tracetest::kHalted);
        return unit.takeSwoSegments();
    }();
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].line.prescaler, 72u);
    EXPECT_EQ(tracetest::hex(segments[0].bytes), "22 33 44");
}

TEST(SwoTiming, SegmentsSplitWhereTheLineSettingsChange) {
    TraceConfig config;
    config.program = IdleTraceProgram{};
    TraceUnit unit(config);
    tracetest::setUpSwo(unit, {}, 0, tracetest::kHalted);
    unit.write32(itm::kStimBase, 0x44332211, 0);
    unit.write32(tpiu::kSppr, tpiu::kSpprManchester, 12);  // frames 1 and 2 done, 3 under way
    unit.advance(100, tracetest::kHalted);
    const auto segments = unit.takeSwoSegments();
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].line.encoding, SwoEncoding::Nrz);
    EXPECT_EQ(tracetest::hex(segments[0].bytes), "03 11 22");
    EXPECT_EQ(segments[1].line.encoding, SwoEncoding::Manchester);
    EXPECT_EQ(tracetest::hex(segments[1].bytes), "33 44");
}

TEST(SwoTiming, LineHoldsItsBytesWhileNoProtocolIsSelected) {
    TraceConfig config;
    config.program = IdleTraceProgram{};
    TraceUnit unit(config);
    tracetest::setUpSwo(unit, {}, 0, tracetest::kHalted);
    unit.write32(itm::kStimBase, 0x44332211, 0);
    unit.write32(tpiu::kSppr, 0, 1);  // the first frame finishes, the rest waits
    unit.advance(1000, tracetest::kHalted);
    EXPECT_EQ(tracetest::hex(unit.takeSwo()), "03");
    EXPECT_EQ(unit.queuedBytes(), 4u);
    unit.write32(tpiu::kSppr, tpiu::kSpprNrz, 1000);
    unit.advance(1020, tracetest::kHalted);
    EXPECT_EQ(tracetest::hex(unit.takeSwo()), "11 22 33 44");
}

struct SlicedRun {
    Bytes bytes;
    TraceRecord record;
};

// Runs `config` for `totalUs` in steps from `step`, switching activity at fixed times.
template <typename StepFn>
SlicedRun runSliced(const TraceConfig& config, uint64_t totalUs, StepFn step) {
    TraceUnit unit(config);
    tracetest::setUpSwo(unit,
                        {35, 2, 0xFFFFFFFF, itm::kTcrItmEna | itm::kTcrTsEna | itm::kTcrSyncEna});
    const auto activityAt = [](uint64_t us) {
        if (us > 3000 && us <= 4000) {
            return tracetest::kHalted;
        }
        if (us > 6000 && us <= 6500) {
            return tracetest::kSleeping;
        }
        return tracetest::kRunning;
    };
    Bytes bytes;
    uint64_t now = 0;
    while (now < totalUs) {
        uint64_t next = std::min(totalUs, now + step(now));
        for (uint64_t edge : {3000u, 4000u, 6000u, 6500u}) {
            if (now < edge && next > edge) {
                next = edge;
            }
        }
        unit.advance(next, activityAt(next));
        unit.takeSwo(bytes);
        now = next;
    }
    return {bytes, unit.record()};
}

TEST(SwoTiming, SlicingOfTimeDoesNotChangeTheOutput) {
    TraceConfig config;
    config.program = DefaultTraceProgram{5000, 0, 1, false};  // outpaces the line: overflows too
    config.coreClockHz = 64000000;                            // 64 cycles per microsecond
    config.syncTiming = ItmSyncTiming::FixedPeriod;
    config.syncPeriodCycles = 100000;
    const SlicedRun whole = runSliced(config, 10000, [](uint64_t) { return 10000; });
    const SlicedRun fine = runSliced(config, 10000, [](uint64_t) { return 1; });
    uint64_t seed = 12345;
    const SlicedRun ragged = runSliced(config, 10000, [&](uint64_t) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return 1 + (seed >> 33) % 97;
    });
    ASSERT_GT(whole.bytes.size(), 500u);
    EXPECT_GT(whole.record.writesLost, 0u);
    EXPECT_GT(whole.record.syncPackets, 0u);
    EXPECT_GT(whole.record.timestampPackets, 0u);
    for (const SlicedRun* other : {&fine, &ragged}) {
        EXPECT_EQ(other->bytes, whole.bytes);
        EXPECT_EQ(other->record.pinBytes, whole.record.pinBytes);
        EXPECT_EQ(other->record.writesLost, whole.record.writesLost);
        EXPECT_EQ(other->record.overflowPackets, whole.record.overflowPackets);
        EXPECT_EQ(other->record.timestampPackets, whole.record.timestampPackets);
        EXPECT_EQ(other->record.syncPackets, whole.record.syncPackets);
    }
    EXPECT_EQ(whole.bytes, whole.record.pinBytes);
}

TEST(SwoTiming, FractionalCyclesPerMicrosecondCarryOver) {
    // 7.5 MHz and ACPR 0: 10 cycles a byte, 0.75 bytes per microsecond.
    TraceConfig config = saturatingConfig(1000000);
    config.coreClockHz = 7500000;
    TraceUnit unit(config);
    tracetest::setUpSwo(unit, {0});
    size_t total = 0;
    for (uint64_t us = 1; us <= 4000; ++us) {
        unit.advance(us, tracetest::kRunning);
        total += unit.takeSwo().size();
    }
    EXPECT_EQ(total, 3000u);
}

TEST(SwoTiming, RegisterAccessBringsTheModelToItsTime) {
    TraceUnit unit(saturatingConfig());
    tracetest::setUpSwo(unit);
    uint32_t tcr = 0;
    ASSERT_TRUE(unit.read32(itm::kTcr, tcr, 1000));  // the activity last given (running) holds
    EXPECT_EQ(unit.cycles(), 72000u);
    EXPECT_EQ(unit.takeSwo().size(), 200u);
    unit.advance(500, tracetest::kRunning);  // earlier than the model: nothing happens
    EXPECT_EQ(unit.cycles(), 72000u);
}

}  // namespace
}  // namespace dravik::sim
