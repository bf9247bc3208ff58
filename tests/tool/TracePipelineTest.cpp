#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>

#include "ToolTestSupport.h"
#include "dravik/swv/TracePipeline.h"

namespace dravik::swv {
namespace {

using test::Bytes;
using test::ItmStream;

// The bench's default program: numbered lines on port 0, the same number on port 1.
Bytes benchIterations(unsigned from, unsigned to) {
    ItmStream stream;
    for (unsigned n = from; n <= to; ++n) {
        stream.text(0, "line " + std::to_string(n) + "\n").write(1, 4, n);
    }
    return stream.bytes();
}

std::string run(const PipelineConfig& config, const Bytes& bytes,
                PipelineCounters* counters = nullptr) {
    std::ostringstream out;
    TracePipeline pipeline(config, &out);
    pipeline.data(bytes.data(), bytes.size(), 1000);
    pipeline.finish();
    EXPECT_TRUE(pipeline.flush());
    if (counters != nullptr) {
        *counters = pipeline.counters();
    }
    return out.str();
}

TEST(TracePipeline, ByDefaultShowsEveryPortWithItsPrefix) {
    PipelineCounters counters;
    EXPECT_EQ(run(PipelineConfig{}, benchIterations(1, 2), &counters),
              "[0] line 1\n[1] 0x00000001\n[0] line 2\n[1] 0x00000002\n");
    EXPECT_EQ(counters.portPackets[0], 6u);  // "line 1\n": a word, a halfword and a byte
    EXPECT_EQ(counters.portPackets[1], 2u);
    EXPECT_EQ(counters.packets, 8u);
    EXPECT_EQ(counters.bytes, benchIterations(1, 2).size());
    EXPECT_EQ(counters.overflows, 0u);
    EXPECT_EQ(counters.decodeErrors, 0u);
}

TEST(TracePipeline, OnePortShownHasNoPrefix) {
    PipelineConfig config;
    config.ports = {PortRoute{0, PortFormat::Text}};
    EXPECT_EQ(run(config, benchIterations(1, 2)), "line 1\nline 2\n");
}

TEST(TracePipeline, APortNotEnabledIsShownWithItsNumberAndCounted) {
    PipelineConfig config;
    config.enabledMask = 0x1;
    PipelineCounters counters;
    EXPECT_EQ(run(config, benchIterations(1, 2), &counters),
              "line 1\n[1] 0x00000001\nline 2\n[1] 0x00000002\n");
    EXPECT_EQ(counters.unexpectedPackets, 2u);
    EXPECT_EQ(counters.portPackets[1], 2u);
}

TEST(TracePipeline, NamedPortsInTheirFormats) {
    PipelineConfig config;
    config.ports = {PortRoute{1, PortFormat::Dec}, PortRoute{0, PortFormat::Text}};
    EXPECT_EQ(run(config, benchIterations(9, 10)), "[0] line 9\n[1] 9\n[0] line 10\n[1] 10\n");
}

TEST(TracePipeline, APortFileTakesItsPortOffTheDefaultOutput) {
    std::ostringstream file;
    PipelineConfig config;
    config.files = {PortFileRoute{1, PortFormat::Dec, &file}};
    config.enabledMask = 0x3;
    EXPECT_EQ(run(config, benchIterations(1, 2)), "line 1\nline 2\n");
    EXPECT_EQ(file.str(), "1\n2\n");
}

TEST(TracePipeline, QuietWritesOnlyTheFiles) {
    std::ostringstream file;
    PipelineConfig config;
    config.quiet = true;
    config.files = {PortFileRoute{0, PortFormat::Text, &file}};
    EXPECT_EQ(run(config, benchIterations(1, 1)), "");
    EXPECT_EQ(file.str(), "line 1\n");
}

TEST(TracePipeline, RecordFormatsListEveryPacketOfTheShownPorts) {
    PipelineConfig config;
    config.format = OutputFormat::Csv;
    config.ports = {PortRoute{1, PortFormat::Auto}};
    ItmStream stream;
    stream.write(0, 1, 'x').write(1, 2, 0x1234).overflow();
    EXPECT_EQ(run(config, stream.bytes()),
              "kind,port,size,value,text,ticks,time,host_time,detail\n"
              "header,,,1,,,,,\n"
              "instrumentation,1,2,4660,,,,0.001000,\n"
              "overflow,,0,0,,,,0.001000,\n");
}

TEST(TracePipeline, RecordsCarryTargetTimeAndTheTextOfTextPorts) {
    PipelineConfig config;
    config.format = OutputFormat::Jsonl;
    config.clocks.timestampHz = 1000000;
    ItmStream stream;
    // Port 0 is shown in auto: its text write carries the characters, its number does not.
    stream.write(0, 1, 'a').timestamp(5).write(0, 1, 0x02);
    EXPECT_EQ(run(config, stream.bytes()),
              "{\"kind\":\"header\",\"version\":1,\"timestamp_hz\":1000000}\n"
              "{\"kind\":\"instrumentation\",\"port\":0,\"size\":1,\"value\":97,\"text\":\"a\","
              "\"ticks\":5,\"time\":0.000005000,\"host_time\":0.001000}\n"
              "{\"kind\":\"local_timestamp\",\"size\":0,\"value\":5,\"relation\":"
              "\"synchronous\",\"ticks\":5,\"time\":0.000005000,\"host_time\":0.001000}\n"
              "{\"kind\":\"instrumentation\",\"port\":0,\"size\":1,\"value\":2,\"ticks\":5,"
              "\"time\":0.000005000,\"host_time\":0.001000}\n");
}

TEST(TracePipeline, CountsOverflowsAndDecodeErrors) {
    PipelineCounters counters;
    ItmStream stream;
    // 0x04 is a reserved header: one byte that forms no packet.
    stream.write(0, 1, 'a').overflow().raw({0x04}).overflow();
    run(PipelineConfig{}, stream.bytes(), &counters);
    EXPECT_EQ(counters.overflows, 2u);
    EXPECT_EQ(counters.decodeErrors, 1u);
    EXPECT_EQ(counters.packets, 3u);
}

TEST(TracePipeline, APacketCutByTheEndOfTheCaptureIsNoDecodeError) {
    PipelineCounters counters;
    ItmStream stream;
    stream.write(1, 4, 7);
    Bytes bytes = stream.bytes();
    bytes.resize(bytes.size() - 2);  // the receiver stopped inside the packet
    run(PipelineConfig{}, bytes, &counters);
    EXPECT_EQ(counters.decodeErrors, 0u);
    EXPECT_EQ(counters.packets, 0u);
    EXPECT_EQ(counters.bytes, 3u);
}

TEST(TracePipeline, NoPacketIsMadeAcrossAGap) {
    std::ostringstream out;
    PipelineConfig config;
    config.ports = {PortRoute{0, PortFormat::Hex}};
    TracePipeline pipeline(config, &out);
    // A word write cut by the gap: its header and two payload bytes, then the rest after it.
    const Bytes before = {0x03, 0x11, 0x22};
    const Bytes after = {0x00, 0x00, 0x01, 0x55};
    pipeline.data(before.data(), before.size(), 1);
    pipeline.gap(GapCause::QueueFull, 4000, 2);
    pipeline.gap(GapCause::ProbeDropped, 0, 3);
    pipeline.gap(GapCause::ReadFailure, 0, 4);
    pipeline.data(after.data(), after.size(), 5);
    pipeline.finish();
    ASSERT_TRUE(pipeline.flush());
    const PipelineCounters counters = pipeline.counters();
    // Joined, the bytes would read as the word 0x00002211; apart, the zeros are dropped and the
    // byte write after them survives. Each gap has its line where it happened.
    EXPECT_EQ(out.str(),
              "[gap] 4000 bytes not shown: the output could not keep up\n"
              "[gap] trace lost: the library discarded pending bytes (result 403)\n"
              "[gap] trace may be lost: a trace read failed\n"
              "0x55\n");
    // The word the gap cut is no decode error, neither its start nor its end.
    EXPECT_EQ(counters.decodeErrors, 0u);
    EXPECT_EQ(counters.queueDropBytes, 4000u);
    EXPECT_EQ(counters.probeDrops, 1u);
    EXPECT_EQ(counters.readFailures, 1u);
}

TEST(TracePipeline, BytesFarFromAGapStillCountAsDecodeErrors) {
    std::ostringstream out;
    TracePipeline pipeline(PipelineConfig{}, &out);
    const Bytes after = {0x04, 0x01, 'a', 0x04, 0x04, 0x04, 0x04, 0x04};
    pipeline.gap(GapCause::QueueFull, 10, 1);
    pipeline.data(after.data(), after.size(), 2);
    pipeline.finish();
    // The first six bytes may finish the cut packet; the last two reserved headers cannot.
    EXPECT_EQ(pipeline.counters().decodeErrors, 2u);
}

TEST(TracePipeline, AGapInRecordFormatsIsARecord) {
    std::ostringstream out;
    PipelineConfig config;
    config.format = OutputFormat::Jsonl;
    TracePipeline pipeline(config, &out);
    pipeline.gap(GapCause::ReadFailure, 0, 2500000);
    ASSERT_TRUE(pipeline.flush());
    EXPECT_EQ(out.str(),
              "{\"kind\":\"header\",\"version\":1}\n"
              "{\"kind\":\"gap\",\"cause\":\"read_failure\",\"lost_bytes\":0,"
              "\"host_time\":2.500000}\n");
}

TEST(TracePipeline, ReportsAStreamThatFailed) {
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    TracePipeline pipeline(PipelineConfig{}, &out);
    const Bytes bytes = benchIterations(1, 1);
    pipeline.data(bytes.data(), bytes.size(), 0);
    EXPECT_FALSE(pipeline.flush());
    EXPECT_EQ(pipeline.failedStream(), "standard output");
}

// --- unfinished lines ---

class PartialLines : public testing::Test {
  protected:
    // Port 0 as text and port 1 in hex, with the host time shown: it tells when a row's first
    // character arrived, however long the row waited to be shown.
    PipelineConfig config(bool live) const {
        PipelineConfig config;
        config.ports = {PortRoute{0, PortFormat::Text}, PortRoute{1, PortFormat::Hex}};
        config.text.time.source = TimeSource::Host;
        config.text.livePartialLines = live;
        return config;
    }
    void feed(TracePipeline& pipeline, const ItmStream& stream, uint64_t hostUs) {
        pipeline.data(stream.bytes().data(), stream.bytes().size(), hostUs);
    }
    std::string written(TracePipeline& pipeline) {
        EXPECT_TRUE(pipeline.flush());
        std::string text = out.str();
        out.str("");
        return text;
    }

    static constexpr uint64_t kHold = TracePipeline::kPartialLineHoldUs;
    std::ostringstream out;
};

TEST_F(PartialLines, OnALiveOutputAnUnfinishedLineIsShownAfterTheHoldAndContinued) {
    TracePipeline pipeline(config(true), &out);
    ItmStream a, b, end;
    a.write(0, 1, 'a');
    b.write(0, 1, 'b');
    end.write(0, 2, 0x0A63);  // "c\n"
    feed(pipeline, a, 0);
    EXPECT_EQ(pipeline.nextDueUs(), kHold);
    pipeline.tick(kHold - 1);
    EXPECT_EQ(written(pipeline), "");
    pipeline.tick(kHold);
    EXPECT_EQ(written(pipeline), "[h 0.000000] [0] a");
    EXPECT_TRUE(pipeline.mainRowOpen());
    EXPECT_EQ(pipeline.nextDueUs(), std::nullopt);
    // Written at 0.5 s, shown at 0.55 s, on the same row.
    feed(pipeline, b, 500000);
    pipeline.tick(500000 + kHold - 1);
    EXPECT_EQ(written(pipeline), "");
    pipeline.tick(500000 + kHold);
    EXPECT_EQ(written(pipeline), "b");
    feed(pipeline, end, 1500000);
    EXPECT_EQ(written(pipeline), "c\n");
    EXPECT_FALSE(pipeline.mainRowOpen());
}

TEST_F(PartialLines, AnotherPortsRowBreaksTheShownLineWhichGoesOnWithItsHead) {
    TracePipeline pipeline(config(true), &out);
    ItmStream start, counter, rest;
    start.write(0, 2, 0x6568);  // "he"
    counter.write(1, 1, 7);
    rest.write(0, 4, 0x0A6F6C6C);  // "llo\n"
    feed(pipeline, start, 1000);
    pipeline.tick(1000 + kHold);
    feed(pipeline, counter, 70000);
    feed(pipeline, rest, 90000);
    EXPECT_EQ(written(pipeline),
              "[h 0.001000] [0] he\n"
              "[h 0.070000] [1] 0x07\n"
              "[h 0.090000] [0] llo\n");
}

TEST_F(PartialLines, ElsewhereALineIsWrittenWhenItEndsOrSoonAfterTheCaptureEnds) {
    TracePipeline pipeline(config(false), &out);
    ItmStream a, b;
    a.write(0, 1, 'a');
    b.write(0, 1, 'b');
    feed(pipeline, a, 0);
    EXPECT_EQ(pipeline.nextDueUs(), std::nullopt);
    pipeline.tick(10 * kHold);
    EXPECT_EQ(written(pipeline), "");
    pipeline.ending();
    pipeline.tick(10 * kHold);
    EXPECT_EQ(written(pipeline), "[h 0.000000] [0] a");
    // What the last reads bring continues the line; the end of the stream ends it.
    feed(pipeline, b, 11 * kHold);
    pipeline.finish();
    EXPECT_EQ(written(pipeline), "b\n");
}

TEST_F(PartialLines, APacketWaitingForItsTimestampIsShownAfterThePause) {
    PipelineConfig live = config(true);
    live.text.time.source = TimeSource::Target;
    live.clocks.timestampHz = 1000000;
    TracePipeline pipeline(live, &out);
    ItmStream first, second;
    first.write(0, 1, 'x').timestamp(3).write(0, 1, 'y');  // 'y' waits for a timestamp
    feed(pipeline, first, 0);
    pipeline.tick(kHold);
    EXPECT_EQ(written(pipeline), "[t 0.000000] [0] xy");
}

// --- time column ---

TEST(TimeColumn, EachSourceAndFormatOnAScriptedStream) {
    setenv("TZ", "UTC", 1);
    tzset();
    // Port 1 writes before any timestamp, port 0 at 1 ms and 2.5 ms of target time; the host
    // read them at 0.5, 1 and 2.5 ms.
    ItmStream zero, one, two;
    zero.text(1, "zero\n");
    one.text(0, "one\n").localTimestamp(1000);
    two.text(0, "two\n").localTimestamp(1500);
    const struct {
        TimeSource source;
        TimeFormat format;
        const char* text;
    } cases[] = {
        {TimeSource::Target, TimeFormat::Relative,
         "[h 0.000500] [1] zero\n[t 0.000000] [0] one\n[t 0.001500] [0] two\n"},
        {TimeSource::Target, TimeFormat::Absolute,
         "[h 22:13:20.000500] [1] zero\n[t 0.001000] [0] one\n[t 0.002500] [0] two\n"},
        {TimeSource::Target, TimeFormat::Delta,
         "[h +0.000000] [1] zero\n[t +0.000000] [0] one\n[t +0.001500] [0] two\n"},
        {TimeSource::Host, TimeFormat::Relative,
         "[h 0.000500] [1] zero\n[h 0.001000] [0] one\n[h 0.002500] [0] two\n"},
        {TimeSource::Host, TimeFormat::Absolute,
         "[h 22:13:20.000500] [1] zero\n[h 22:13:20.001000] [0] one\n"
         "[h 22:13:20.002500] [0] two\n"},
        {TimeSource::Host, TimeFormat::Delta,
         "[h +0.000000] [1] zero\n[h +0.000500] [0] one\n[h +0.001500] [0] two\n"},
        {TimeSource::Both, TimeFormat::Relative,
         "[t - h 0.000500] [1] zero\n[t 0.000000 h 0.001000] [0] one\n"
         "[t 0.001500 h 0.002500] [0] two\n"},
        {TimeSource::Both, TimeFormat::Absolute,
         "[t - h 22:13:20.000500] [1] zero\n[t 0.001000 h 22:13:20.001000] [0] one\n"
         "[t 0.002500 h 22:13:20.002500] [0] two\n"},
        {TimeSource::Both, TimeFormat::Delta,
         "[t - h +0.000000] [1] zero\n[t +0.000000 h +0.000500] [0] one\n"
         "[t +0.001500 h +0.001500] [0] two\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(timeSourceName(c.source)) + " " + timeFormatName(c.format));
        PipelineConfig config;
        config.ports = {PortRoute{0, PortFormat::Text}, PortRoute{1, PortFormat::Text}};
        config.clocks = {1000000, 1000000};
        config.text.time = {c.source, c.format, int64_t{1700000000} * 1000000};
        std::ostringstream out;
        TracePipeline pipeline(config, &out);
        pipeline.data(zero.bytes().data(), zero.bytes().size(), 500);
        pipeline.data(one.bytes().data(), one.bytes().size(), 1000);
        pipeline.data(two.bytes().data(), two.bytes().size(), 2500);
        pipeline.finish();
        ASSERT_TRUE(pipeline.flush());
        EXPECT_EQ(out.str(), c.text);
    }
    unsetenv("TZ");
    tzset();
}

// --- events ---

TEST(TracePipeline, EventsAreRowsInStreamOrder) {
    ItmStream stream;
    stream.text(0, "a")
        .exception(15, 1)  // exception 15 entered
        .text(0, "b\n")
        .exception(15, 2)     // exited
        .exception(0, 3)      // returned to thread mode
        .exception(0x115, 1)  // bit 8 of the number in the second byte
        .counterWrap(0x21)    // CPI and CYC wrapped
        .pcSample(0x08000134)
        .sleepSample()
        .overflow()
        .text(1, "c\n");
    const struct {
        EventOptions events;
        const char* text;
    } cases[] = {
        {{false, false}, "[0] ab\n[1] c\n"},
        {{true, false},
         "[exception] entered SysTick\n[0] ab\n[exception] exited SysTick\n"
         "[exception] returned to Thread\n[exception] entered IRQ261\n"
         "[event] CPI, CYC counters wrapped\n[overflow] the ITM or DWT dropped packets\n"
         "[1] c\n"},
        {{true, true},
         "[exception] entered SysTick\n[0] ab\n[exception] exited SysTick\n"
         "[exception] returned to Thread\n[exception] entered IRQ261\n"
         "[event] CPI, CYC counters wrapped\n[pc] 0x08000134\n[pc] sleeping\n"
         "[overflow] the ITM or DWT dropped packets\n[1] c\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        PipelineConfig config;
        config.ports = {PortRoute{0, PortFormat::Text}, PortRoute{1, PortFormat::Text}};
        config.text.events = c.events;
        EXPECT_EQ(run(config, stream.bytes()), c.text);
    }
}

TEST(TracePipeline, ColourMarksThePrefixesOnly) {
    PipelineConfig config;
    config.text.color = true;
    ItmStream stream;
    stream.text(0, "hi\n").write(1, 1, 5);
    EXPECT_EQ(run(config, stream.bytes()), "\033[36m[0]\033[0m hi\n\033[32m[1]\033[0m 0x05\n");
}
}  // namespace
}  // namespace dravik::swv
