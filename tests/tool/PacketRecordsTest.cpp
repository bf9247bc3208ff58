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

itm::Packet global(itm::PacketKind kind, uint64_t value, unsigned size, uint8_t flags = 0) {
    itm::Packet p = packet(kind, value, size);
    p.flags = flags;
    return p;
}

TimedPacket timed(const itm::Packet& p, std::optional<uint64_t> ticks,
                  std::optional<uint64_t> hostUs, std::optional<double> seconds) {
    return TimedPacket{p, ticks, hostUs, seconds};
}

std::vector<TimedPacket> timeAll(const std::vector<itm::Packet>& packets,
                                 const TargetClocks& clocks = {}) {
    PacketTimer timer(clocks);
    std::vector<TimedPacket> out;
    for (const itm::Packet& p : packets) {
        timer.add(p, 5, out);
    }
    timer.flush(out);
    return out;
}

TEST(PacketTimer, PacketsBeforeAnyTimestampHaveNoTime) {
    const std::vector<TimedPacket> out = timeAll({write(0, 1), write(0, 2)}, {1e6, 1e6});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_FALSE(out[0].ticks.has_value());
    EXPECT_FALSE(out[1].seconds.has_value());
    EXPECT_EQ(out[1].hostUs, 5u);
}

TEST(PacketTimer, ATimestampTimesThePacketRightBeforeIt) {
    // A at 3, B at 3 + 4, C at the same tick as B (no timestamp follows it), D at 7 + 2.
    const std::vector<TimedPacket> out =
        timeAll({write(0, 'A'), timestamp(3), write(0, 'B'), timestamp(4), write(0, 'C'),
                 write(0, 'D'), timestamp(2)},
                {1000, 0});
    ASSERT_EQ(out.size(), 7u);
    const std::vector<std::pair<uint64_t, uint64_t>> expected = {
        {'A', 3}, {3, 3}, {'B', 7}, {4, 7}, {'C', 7}, {'D', 9}, {2, 9}};
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i].packet.value, expected[i].first) << i;
        ASSERT_TRUE(out[i].ticks.has_value()) << i;
        EXPECT_EQ(*out[i].ticks, expected[i].second) << i;
        EXPECT_DOUBLE_EQ(out[i].seconds.value_or(-1), expected[i].second / 1000.0) << i;
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

TEST(PacketTimer, GlobalTimestampsAnchorTheTargetTimeAndLocalOnesCountOn) {
    using K = itm::PacketKind;
    // Global counter at 1 MHz, local timestamps at 250 kHz (TSPrescale 4).
    const std::vector<TimedPacket> out = timeAll(
        {
            write(0, 'a'),
            timestamp(250),                                     // 1 ms, before any global timestamp
            global(K::GlobalTimestamp1, 0x1FFFFFF, 4),          // 33554431 us
            global(K::GlobalTimestamp2, uint64_t{1} << 26, 1),  // + 2^26 us
            write(0, 'b'),
            timestamp(500),  // 2 ms after the anchor
            // A short GTS1 replaces the low 7 bits only.
            global(K::GlobalTimestamp1, 0x05, 1),
            write(0, 'c'),
            // One whose high bits changed waits for its GTS2.
            global(K::GlobalTimestamp1, 0, 4, itm::PacketFlag::kWrap),
            write(0, 'd'),
            global(K::GlobalTimestamp2, uint64_t{2} << 26, 1),
            write(0, 'e'),
        },
        {250000, 1e6});
    std::vector<std::pair<uint64_t, double>> times;
    for (const TimedPacket& t : out) {
        if (t.packet.kind == K::Instrumentation) {
            times.emplace_back(t.packet.value, t.seconds.value_or(-1));
        }
    }
    const double anchor = (0x1FFFFFF + (1 << 26)) / 1e6;
    const double shortAnchor = ((1 << 26) + 0x1FFFF85) / 1e6;
    ASSERT_EQ(times.size(), 5u);
    EXPECT_DOUBLE_EQ(times[0].second, 0.001);
    EXPECT_DOUBLE_EQ(times[1].second, anchor + 0.002);
    EXPECT_DOUBLE_EQ(times[2].second, shortAnchor);
    EXPECT_DOUBLE_EQ(times[3].second, shortAnchor);
    EXPECT_DOUBLE_EQ(times[4].second, (uint64_t{2} << 26) / 1e6);
}

struct RecordCase {
    OutputFormat format;
    TimedPacket packet;
    std::optional<std::string_view> text;
    const char* line;
};

void PrintTo(const RecordCase& c, std::ostream* os) {
    *os << c.line;
}

class PacketRecordLines : public testing::TestWithParam<RecordCase> {};

TEST_P(PacketRecordLines, AreExact) {
    const RecordCase& c = GetParam();
    PacketRecordFormatter formatter(c.format, {72000000, 72000000});
    std::string out;
    formatter.appendPacket(c.packet, c.text, out);
    EXPECT_EQ(out, c.line);
}

itm::Packet exception(itm::ExceptionFunction function, unsigned number) {
    itm::Packet p = packet(itm::PacketKind::ExceptionTrace, number, 2);
    p.function = function;
    return p;
}

itm::Packet dataValue(unsigned comparator, uint32_t value, bool isWrite) {
    itm::Packet p = packet(itm::PacketKind::DataTraceValue, value, 4);
    p.comparator = static_cast<uint8_t>(comparator);
    p.flags = isWrite ? itm::PacketFlag::kWrite : 0;
    return p;
}

itm::Packet delayedTimestamp(uint64_t delta) {
    itm::Packet p = packet(itm::PacketKind::LocalTimestamp1, delta, 2);
    p.relation = itm::TimestampRelation::PacketDelayed;
    return p;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PacketRecordLines,
    testing::Values(
        RecordCase{OutputFormat::Jsonl, timed(write(1, 42), 72, 1500000, 0.000001), std::nullopt,
                   "{\"kind\":\"instrumentation\",\"port\":1,\"size\":4,\"value\":42,"
                   "\"ticks\":72,\"time\":0.000001000,\"host_time\":1.500000}\n"},
        // A text port's write carries its characters, NUL padding left out.
        RecordCase{OutputFormat::Jsonl,
                   timed(write(0, 0x000A2269), std::nullopt, std::nullopt, std::nullopt), "i\"\n",
                   "{\"kind\":\"instrumentation\",\"port\":0,\"size\":4,\"value\":664169,"
                   "\"text\":\"i\\\"\\u000a\"}\n"},
        RecordCase{
            OutputFormat::Jsonl,
            timed(exception(itm::ExceptionFunction::Entered, 15), std::nullopt, 10, std::nullopt),
            std::nullopt,
            "{\"kind\":\"exception_trace\",\"size\":2,\"value\":15,\"function\":\"entered\","
            "\"name\":\"SysTick\",\"host_time\":0.000010}\n"},
        RecordCase{OutputFormat::Jsonl, timed(delayedTimestamp(3), 3, std::nullopt, std::nullopt),
                   std::nullopt,
                   "{\"kind\":\"local_timestamp\",\"size\":2,\"value\":3,\"relation\":"
                   "\"packet_delayed\",\"ticks\":3}\n"},
        RecordCase{OutputFormat::Jsonl,
                   timed(global(itm::PacketKind::GlobalTimestamp1, 9, 4,
                                itm::PacketFlag::kWrap | itm::PacketFlag::kClockChange),
                         std::nullopt, std::nullopt, std::nullopt),
                   std::nullopt,
                   "{\"kind\":\"global_timestamp_low\",\"size\":4,\"value\":9,\"wrap\":true,"
                   "\"clock_change\":true}\n"},
        RecordCase{OutputFormat::Jsonl,
                   timed(dataValue(2, 7, true), std::nullopt, std::nullopt, std::nullopt),
                   std::nullopt,
                   "{\"kind\":\"data_trace_value\",\"comparator\":2,\"size\":4,\"value\":7,"
                   "\"access\":\"write\"}\n"},
        RecordCase{OutputFormat::Csv, timed(write(1, 42), 72, 1500000, 0.000001), std::nullopt,
                   "instrumentation,1,4,42,,72,0.000001000,1.500000,\n"},
        RecordCase{OutputFormat::Csv,
                   timed(write(0, 0x2C226100), std::nullopt, std::nullopt, std::nullopt),
                   "a\",\x01", "instrumentation,0,4,740450560,\"a\"\",\\x01\",,,,\n"},
        RecordCase{OutputFormat::Csv,
                   timed(exception(itm::ExceptionFunction::Returned, 0), std::nullopt, std::nullopt,
                         std::nullopt),
                   std::nullopt, "exception_trace,,2,0,,,,,returned\n"},
        RecordCase{OutputFormat::Csv,
                   timed(dataValue(1, 5, false), std::nullopt, std::nullopt, std::nullopt),
                   std::nullopt, "data_trace_value,1,4,5,,,,,read\n"},
        RecordCase{
            OutputFormat::Csv,
            timed(packet(itm::PacketKind::Overflow), std::nullopt, std::nullopt, std::nullopt),
            std::nullopt, "overflow,,0,0,,,,,\n"}));

TEST(PacketRecordFormatter, EveryKindIsAnIdentifier) {
    for (size_t kind = 0; kind < itm::kPacketKindCount; ++kind) {
        const std::string name = recordKindName(static_cast<itm::PacketKind>(kind));
        EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyz_"), std::string::npos) << name;
    }
}

TEST(PacketRecordFormatter, TheFirstRecordCarriesTheVersion) {
    EXPECT_EQ(PacketRecordFormatter(OutputFormat::Csv, {}).header(),
              "kind,port,size,value,text,ticks,time,host_time,detail\nheader,,,1,,,,,\n");
    EXPECT_EQ(PacketRecordFormatter(OutputFormat::Jsonl, {}).header(),
              "{\"kind\":\"header\",\"version\":1}\n");
    EXPECT_EQ(PacketRecordFormatter(OutputFormat::Jsonl, {18000000, 72000000}).header(),
              "{\"kind\":\"header\",\"version\":1,\"clock_hz\":72000000,"
              "\"timestamp_hz\":18000000}\n");
}

TEST(PacketRecordFormatter, GapsAreRecordsOfTheirOwn) {
    std::string out;
    PacketRecordFormatter(OutputFormat::Jsonl, {})
        .appendGap(GapCause::QueueFull, 4096, 2000000, out);
    PacketRecordFormatter(OutputFormat::Csv, {})
        .appendGap(GapCause::ProbeDropped, 0, std::nullopt, out);
    EXPECT_EQ(out,
              "{\"kind\":\"gap\",\"cause\":\"queue_full\",\"lost_bytes\":4096,"
              "\"host_time\":2.000000}\n"
              "gap,,,0,,,,,probe_dropped\n");
}

TEST(JsonString, EscapesQuotesBackslashesControlCharactersAndBytesThatAreNotUtf8) {
    std::string out;
    appendJsonString("a\"b\\c\n\x01 \xc3\xa9 \xe2\x82\xac \xff \xc3 \xed\xa0\x80", out);
    EXPECT_EQ(out,
              "\"a\\\"b\\\\c\\u000a\\u0001 \xc3\xa9 \xe2\x82\xac \\u00ff \\u00c3 "
              "\\u00ed\\u00a0\\u0080\"");
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
