#include <gtest/gtest.h>

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
              "kind,port,size,value,ticks,time,host_time\n"
              "instrumentation,1,2,4660,,,0.001000\n"
              "overflow,,0,0,,,0.001000\n");
}

TEST(TracePipeline, RecordsCarryTargetTimeFromTheTimestamps) {
    PipelineConfig config;
    config.format = OutputFormat::Jsonl;
    config.timestampHz = 1000000;
    ItmStream stream;
    stream.write(0, 1, 'a').timestamp(5);
    EXPECT_EQ(run(config, stream.bytes()),
              "{\"kind\":\"instrumentation\",\"port\":0,\"size\":1,\"value\":97,\"ticks\":5,"
              "\"time\":0.000005000,\"host_time\":0.001000}\n"
              "{\"kind\":\"local timestamp 2\",\"size\":0,\"value\":5,\"ticks\":5,"
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
              "{\"kind\":\"gap\",\"cause\":\"read failure\",\"lost_bytes\":0,"
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

}  // namespace
}  // namespace dravik::swv
