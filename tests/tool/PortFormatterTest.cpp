#include <gtest/gtest.h>

#include "dravik/swv/PortFormatter.h"

namespace dravik::swv {
namespace {

itm::Packet write(unsigned port, unsigned size, uint64_t value) {
    itm::Packet packet{};
    packet.kind = itm::PacketKind::Instrumentation;
    packet.port = static_cast<uint8_t>(port);
    packet.size = static_cast<uint8_t>(size);
    packet.value = value;
    return packet;
}

// "line 12\n" as word, halfword and byte writes.
std::vector<itm::Packet> textWrites(unsigned port) {
    return {write(port, 4, 0x656E696C),  // "line"
            write(port, 2, 0x3120),      // " 1"
            write(port, 1, '2'), write(port, 1, '\n')};
}

std::string feed(PortFormatter& formatter, const std::vector<itm::Packet>& packets) {
    std::string out;
    for (const itm::Packet& packet : packets) {
        formatter.add(packet, out);
    }
    return out;
}

TEST(PortFormatter, TextReassemblesWritesOfEverySizeIntoLines) {
    PortFormatter formatter(0, PortFormat::Text, false);
    EXPECT_EQ(feed(formatter, textWrites(0)), "line 12\n");
}

TEST(PortFormatter, PrefixesEachLineWithItsPort) {
    PortFormatter formatter(3, PortFormat::Text, true);
    EXPECT_EQ(feed(formatter, textWrites(3)), "[3] line 12\n");
}

TEST(PortFormatter, IgnoresOtherPortsAndOtherPackets) {
    PortFormatter formatter(0, PortFormat::Hex, false);
    itm::Packet overflow{};
    overflow.kind = itm::PacketKind::Overflow;
    EXPECT_EQ(feed(formatter, {write(1, 4, 5), overflow}), "");
}

TEST(PortFormatter, NumbersShowOneWriteALine) {
    PortFormatter hex(1, PortFormat::Hex, false);
    EXPECT_EQ(feed(hex, {write(1, 1, 0x2A), write(1, 2, 0x2A), write(1, 4, 0xDEADBEEF)}),
              "0x2a\n0x002a\n0xdeadbeef\n");
    PortFormatter dec(1, PortFormat::Dec, true);
    EXPECT_EQ(feed(dec, {write(1, 1, 255), write(1, 4, 4000000000u)}), "[1] 255\n[1] 4000000000\n");
}

TEST(PortFormatter, EscapesControlCharactersButKeepsTabsAndUtf8) {
    PortFormatter formatter(0, PortFormat::Text, false);
    EXPECT_EQ(feed(formatter, {write(0, 4, 0x1B5B3109), write(0, 2, 0x0A7F), write(0, 2, 0xA9C3),
                               write(0, 1, '\n')}),
              "\t1[\\x1b\\x7f\n\xc3\xa9\n");
}

TEST(PortFormatter, FlushHandsOutTheUnfinishedLine) {
    PortFormatter formatter(0, PortFormat::Text, true);
    EXPECT_EQ(feed(formatter, {write(0, 2, 0x6B6F)}), "");
    std::string out;
    formatter.flush(out);
    EXPECT_EQ(out, "[0] ok\n");
    formatter.flush(out);
    EXPECT_EQ(out, "[0] ok\n");
}

TEST(PortFormatter, AutoKeepsAConsoleAsText) {
    PortFormatter formatter(0, PortFormat::Auto, false);
    std::vector<itm::Packet> writes = textWrites(0);
    writes.push_back(write(0, 4, 0));  // NUL padding
    writes.push_back(write(0, 2, 0x0A41));
    EXPECT_EQ(feed(formatter, writes), "line 12\nA\n");
    EXPECT_FALSE(formatter.showsNumbers());
}

TEST(PortFormatter, AutoShowsABinaryCounterInHexFromItsFirstValue) {
    PortFormatter formatter(1, PortFormat::Auto, true);
    // The zero could have been padding; the 1 shows it was a number.
    EXPECT_EQ(feed(formatter, {write(1, 4, 0), write(1, 4, 1), write(1, 4, 0x41), write(1, 4, 2)}),
              "[1] 0x00000000\n[1] 0x00000001\n[1] 0x00000041\n[1] 0x00000002\n");
    EXPECT_TRUE(formatter.showsNumbers());
}

TEST(PortFormatter, AutoSwitchingToNumbersFirstHandsOutThePendingText) {
    PortFormatter formatter(0, PortFormat::Auto, false);
    EXPECT_EQ(feed(formatter, {write(0, 2, 0x6968), write(0, 1, 0x03)}), "hi\n0x03\n");
}

TEST(PortFormatNames, ParseAndName) {
    PortFormat format = PortFormat::Auto;
    EXPECT_TRUE(parsePortFormat("hex", format));
    EXPECT_EQ(format, PortFormat::Hex);
    EXPECT_TRUE(parsePortFormat("dec", format));
    EXPECT_EQ(format, PortFormat::Dec);
    EXPECT_TRUE(parsePortFormat("text", format));
    EXPECT_EQ(format, PortFormat::Text);
    EXPECT_TRUE(parsePortFormat("auto", format));
    EXPECT_EQ(format, PortFormat::Auto);
    EXPECT_FALSE(parsePortFormat("HEX", format));
    EXPECT_FALSE(parsePortFormat("", format));
}

}  // namespace
}  // namespace dravik::swv
