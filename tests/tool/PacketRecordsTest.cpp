#include <gtest/gtest.h>

#include "dravik/swv/PacketRecords.h"

namespace dravik::swv {
namespace {

itm::Packet packet(itm::PacketKind kind, uint64_t value = 0, unsigned size = 0, unsigned port = 0) {
    itm::Packet p{};
    p.kind = kind;
    p.value = value;
    p.size = static_cast<uint8_t>(size);
    p.port = static_cast<uint8_t>(port);
    return p;
}

itm::Packet write(unsigned port, uint32_t value) {
    return packet(itm::PacketKind::Instrumentation, value, 4, port);
}

itm::Packet timestamp(uint64_t delta) {
    return packet(itm::PacketKind::LocalTimestamp2, delta);
}

std::vector<TimedPacket> timeAll(const std::vector<itm::Packet>& packets) {
    PacketTimer timer;
    std::vector<TimedPacket> out;
    for (const itm::Packet& p : packets) {
        timer.add(p, 5, out);
    }
    timer.flush(out);
    return out;
}

TEST(PacketTimer, PacketsBeforeAnyTimestampHaveNoTime) {
    const std::vector<TimedPacket> out = timeAll({write(0, 1), write(0, 2)});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_FALSE(out[0].ticks.has_value());
    EXPECT_FALSE(out[1].ticks.has_value());
    EXPECT_EQ(out[1].hostUs, 5u);
}

TEST(PacketTimer, ATimestampTimesThePacketRightBeforeIt) {
    // A at 3, B at 3 + 4, C at the same tick as B (no timestamp follows it), D at 7 + 2.
    const std::vector<TimedPacket> out =
        timeAll({write(0, 'A'), timestamp(3), write(0, 'B'), timestamp(4), write(0, 'C'),
                 write(0, 'D'), timestamp(2)});
    ASSERT_EQ(out.size(), 7u);
    const std::vector<std::pair<uint64_t, uint64_t>> expected = {
        {'A', 3}, {3, 3}, {'B', 7}, {4, 7}, {'C', 7}, {'D', 9}, {2, 9}};
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i].packet.value, expected[i].first) << i;
        ASSERT_TRUE(out[i].ticks.has_value()) << i;
        EXPECT_EQ(*out[i].ticks, expected[i].second) << i;
    }
}

TEST(PacketTimer, KeepsStreamOrder) {
    const std::vector<TimedPacket> out =
        timeAll({write(0, 1), packet(itm::PacketKind::Overflow), timestamp(1), write(1, 2)});
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].packet.kind, itm::PacketKind::Instrumentation);
    EXPECT_FALSE(out[0].ticks.has_value());
    EXPECT_EQ(out[1].packet.kind, itm::PacketKind::Overflow);
    EXPECT_EQ(out[1].ticks, 1u);
    EXPECT_EQ(out[2].packet.kind, itm::PacketKind::LocalTimestamp2);
    EXPECT_EQ(out[3].ticks, 1u);  // flushed at the end with the last time known
}

struct RecordCase {
    OutputFormat format;
    TimedPacket packet;
    double timestampHz;
    const char* line;
};

void PrintTo(const RecordCase& c, std::ostream* os) {
    *os << c.line;
}

class PacketRecordLines : public testing::TestWithParam<RecordCase> {};

TEST_P(PacketRecordLines, AreExact) {
    const RecordCase& c = GetParam();
    PacketRecordFormatter formatter(c.format, c.timestampHz);
    std::string out;
    formatter.appendPacket(c.packet, out);
    EXPECT_EQ(out, c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PacketRecordLines,
    testing::Values(RecordCase{OutputFormat::Jsonl,
                               {write(1, 42), 72, 1500000},
                               72000000,
                               "{\"kind\":\"instrumentation\",\"port\":1,\"size\":4,\"value\":42,"
                               "\"ticks\":72,\"time\":0.000001000,\"host_time\":1.500000}\n"},
                    RecordCase{
                        OutputFormat::Jsonl,
                        {write(0, 7), std::nullopt, std::nullopt},
                        72000000,
                        "{\"kind\":\"instrumentation\",\"port\":0,\"size\":4,\"value\":7}\n"},
                    // Ticks without a clock: no time in seconds.
                    RecordCase{OutputFormat::Jsonl,
                               {timestamp(3), 3, 10},
                               0,
                               "{\"kind\":\"local timestamp 2\",\"size\":0,\"value\":3,\"ticks\":3,"
                               "\"host_time\":0.000010}\n"},
                    RecordCase{OutputFormat::Csv,
                               {write(1, 42), 72, 1500000},
                               72000000,
                               "instrumentation,1,4,42,72,0.000001000,1.500000\n"},
                    RecordCase{OutputFormat::Csv,
                               {packet(itm::PacketKind::Overflow), std::nullopt, std::nullopt},
                               72000000,
                               "overflow,,0,0,,,\n"}));

TEST(PacketRecordFormatter, CsvHasAHeaderLine) {
    EXPECT_EQ(PacketRecordFormatter(OutputFormat::Csv, 0).header(),
              "kind,port,size,value,ticks,time,host_time\n");
    EXPECT_EQ(PacketRecordFormatter(OutputFormat::Jsonl, 0).header(), "");
}

TEST(PacketRecordFormatter, GapsAreRecordsOfTheirOwn) {
    std::string out;
    PacketRecordFormatter(OutputFormat::Jsonl, 0)
        .appendGap(GapCause::QueueFull, 4096, 2000000, out);
    PacketRecordFormatter(OutputFormat::Csv, 0)
        .appendGap(GapCause::ProbeDropped, 0, std::nullopt, out);
    EXPECT_EQ(out,
              "{\"kind\":\"gap\",\"cause\":\"queue full\",\"lost_bytes\":4096,"
              "\"host_time\":2.000000}\n"
              "gap: probe dropped,,,0,,,\n");
}

TEST(JsonString, EscapesQuotesBackslashesAndControlCharacters) {
    std::string out;
    appendJsonString("a\"b\\c\n\x01", out);
    EXPECT_EQ(out, "\"a\\\"b\\\\c\\u000a\\u0001\"");
}

TEST(OutputFormatNames, ParseAndName) {
    OutputFormat format = OutputFormat::Text;
    EXPECT_TRUE(parseOutputFormat("jsonl", format));
    EXPECT_EQ(format, OutputFormat::Jsonl);
    EXPECT_TRUE(parseOutputFormat("csv", format));
    EXPECT_EQ(format, OutputFormat::Csv);
    EXPECT_TRUE(parseOutputFormat("text", format));
    EXPECT_EQ(format, OutputFormat::Text);
    EXPECT_FALSE(parseOutputFormat("json", format));
}

}  // namespace
}  // namespace dravik::swv
