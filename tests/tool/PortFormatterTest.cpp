#include <gtest/gtest.h>

#include "dravik/swv/PortFormatter.h"

namespace dravik::swv {
namespace {

TimedPacket write(unsigned port, unsigned size, uint64_t value, uint64_t hostUs = 0) {
    TimedPacket timed;
    timed.packet.kind = itm::PacketKind::Instrumentation;
    timed.packet.port = static_cast<uint8_t>(port);
    timed.packet.size = static_cast<uint8_t>(size);
    timed.packet.value = value;
    timed.hostUs = hostUs;
    return timed;
}

// "line 12\n" as word, halfword and byte writes.
std::vector<TimedPacket> textWrites(unsigned port) {
    return {write(port, 4, 0x656E696C),  // "line"
            write(port, 2, 0x3120),      // " 1"
            write(port, 1, '2'), write(port, 1, '\n')};
}

class PortFormatterTest : public testing::Test {
  protected:
    std::string feed(PortFormatter& formatter, const std::vector<TimedPacket>& writes) {
        for (const TimedPacket& w : writes) {
            formatter.add(w, display);
        }
        return take();
    }
    std::string take() {
        std::string out;
        out.swap(display.pending());
        return out;
    }

    TextDisplay display{TimeColumnConfig{}, false};
};

TEST_F(PortFormatterTest, TextReassemblesWritesOfEverySizeIntoLines) {
    PortFormatter formatter(0, PortFormat::Text, false);
    EXPECT_EQ(feed(formatter, textWrites(0)), "line 12\n");
}

TEST_F(PortFormatterTest, PrefixesEachLineWithItsPort) {
    PortFormatter formatter(3, PortFormat::Text, true);
    EXPECT_EQ(feed(formatter, textWrites(3)), "[3] line 12\n");
}

TEST_F(PortFormatterTest, IgnoresOtherPortsAndOtherPackets) {
    PortFormatter formatter(0, PortFormat::Hex, false);
    TimedPacket overflow;
    overflow.packet.kind = itm::PacketKind::Overflow;
    EXPECT_EQ(feed(formatter, {write(1, 4, 5), overflow}), "");
}

TEST_F(PortFormatterTest, NumbersShowOneWriteARow) {
    const struct {
        PortFormat format;
        ValuePattern pattern;
        const char* rows;
    } cases[] = {
        {PortFormat::Hex, {}, "0xff\n0xfffe\n0xdeadbeef\n0x40490fdb\n"},
        {PortFormat::Dec, {}, "255\n65534\n3735928559\n1078530011\n"},
        // Sign-extended from the write's size.
        {PortFormat::Signed, {}, "-1\n-2\n-559038737\n1078530011\n"},
        // Only a word is a float; the others are shown in hex.
        {PortFormat::Float, {}, "0xff\n0xfffe\n-6.25985e+18\n3.14159\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(portFormatName(c.format));
        PortFormatter formatter(1, c.format, false, c.pattern);
        EXPECT_EQ(feed(formatter, {write(1, 1, 0xFF), write(1, 2, 0xFFFE), write(1, 4, 0xDEADBEEF),
                                   write(1, 4, 0x40490FDB)}),
                  c.rows);
    }
}

TEST_F(PortFormatterTest, APatternFramesEachValue) {
    ValuePattern pattern;
    std::string error;
    ASSERT_TRUE(ValuePattern::parse("temp=%d C (100%%)", pattern, error)) << error;
    PortFormatter formatter(3, PortFormat::Pattern, true, pattern);
    EXPECT_EQ(feed(formatter, {write(3, 1, 0xEC), write(3, 4, 21)}),
              "[3] temp=-20 C (100%)\n[3] temp=21 C (100%)\n");
}

TEST_F(PortFormatterTest, EscapesControlCharactersButKeepsTabsAndUtf8) {
    PortFormatter formatter(0, PortFormat::Text, false);
    EXPECT_EQ(feed(formatter, {write(0, 4, 0x1B5B3109), write(0, 2, 0x0A7F), write(0, 2, 0xA9C3),
                               write(0, 1, '\n')}),
              "\t1[\\x1b\\x7f\n\xc3\xa9\n");
}

TEST_F(PortFormatterTest, FlushEndsTheUnfinishedLine) {
    PortFormatter formatter(0, PortFormat::Text, true);
    EXPECT_EQ(feed(formatter, {write(0, 2, 0x6B6F)}), "");
    formatter.flush(display);
    EXPECT_EQ(take(), "[0] ok\n");
    formatter.flush(display);
    EXPECT_EQ(take(), "");
}

TEST_F(PortFormatterTest, AnUnfinishedLineShownEarlyContinuesOnItsRow) {
    PortFormatter formatter(0, PortFormat::Text, true);
    EXPECT_EQ(feed(formatter, {write(0, 1, 'a', 100)}), "");
    EXPECT_TRUE(formatter.waiting());
    EXPECT_EQ(formatter.waitingSinceUs(), 100u);
    formatter.showWaiting(display);
    EXPECT_FALSE(formatter.waiting());
    EXPECT_EQ(take(), "[0] a");
    EXPECT_EQ(feed(formatter, {write(0, 1, 'b', 500)}), "");
    EXPECT_EQ(formatter.waitingSinceUs(), 500u);
    formatter.showWaiting(display);
    EXPECT_EQ(feed(formatter, {write(0, 2, 0x0A63, 900)}), "bc\n");
    EXPECT_FALSE(formatter.waiting());
}

TEST_F(PortFormatterTest, AnotherRowBreaksAShownLineWhichGoesOnWithItsPrefix) {
    PortFormatter console(0, PortFormat::Text, true);
    PortFormatter counter(1, PortFormat::Hex, true);
    console.add(write(0, 2, 0x6568), display);  // "he"
    console.showWaiting(display);
    counter.add(write(1, 1, 7), display);
    console.add(write(0, 4, 0x0A6F6C6C), display);  // "llo\n"
    EXPECT_EQ(take(), "[0] he\n[1] 0x07\n[0] llo\n");
    // All of a line shown, then its end alone: no empty row.
    console.add(write(0, 1, 'x'), display);
    console.showWaiting(display);
    counter.add(write(1, 1, 8), display);
    console.add(write(0, 1, '\n'), display);
    EXPECT_EQ(take(), "[0] x\n[1] 0x08\n");
}

TEST_F(PortFormatterTest, AutoKeepsAConsoleAsText) {
    PortFormatter formatter(0, PortFormat::Auto, false);
    std::vector<TimedPacket> writes = textWrites(0);
    writes.push_back(write(0, 4, 0));  // NUL padding
    writes.push_back(write(0, 2, 0x0A41));
    writes.push_back(write(0, 4, 0x0A000042));  // "B" padded
    EXPECT_EQ(feed(formatter, writes), "line 12\nA\nB\n");
}

TEST_F(PortFormatterTest, AutoShowsABinaryCounterInHexFromItsFirstValue) {
    PortFormatter formatter(1, PortFormat::Auto, true);
    // The zero could have been padding; the 1 shows it was a number, and the small values in
    // words that follow are numbers too, though their low byte is a letter or a line end.
    EXPECT_EQ(feed(formatter, {write(1, 4, 0), write(1, 4, 1), write(1, 4, 0x41), write(1, 4, 0x0A),
                               write(1, 4, 0)}),
              "[1] 0x00000000\n[1] 0x00000001\n[1] 0x00000041\n[1] 0x0000000a\n[1] 0x00000000\n");
}

TEST_F(PortFormatterTest, AutoJoiningACounterPastTheTextRangeShowsItsValues) {
    // A capture that begins at 202: a lone byte of 0x80 or more in a padded word is no character.
    PortFormatter counter(1, PortFormat::Auto, true);
    EXPECT_EQ(feed(counter, {write(1, 4, 0xCA), write(1, 4, 0xCB), write(1, 4, 0x100)}),
              "[1] 0x000000ca\n[1] 0x000000cb\n[1] 0x00000100\n");
    // A whole UTF-8 character padded is text: "\xc3\xa9\n".
    PortFormatter console(0, PortFormat::Auto, false);
    EXPECT_EQ(feed(console, {write(0, 4, 0x000AA9C3)}), "\xc3\xa9\n");
}

TEST_F(PortFormatterTest, AutoDecidesWriteByWrite) {
    PortFormatter formatter(0, PortFormat::Auto, false);
    // A binary write inside a line is a row of its own; the text goes on with the next write.
    EXPECT_EQ(feed(formatter, {write(0, 2, 0x6968), write(0, 1, 0x03), write(0, 2, 0x0A21)}),
              "0x03\nhi!\n");
    EXPECT_EQ(feed(formatter, {write(0, 4, 0x6B6F6F6C), write(0, 1, '\n')}), "look\n");
}

TEST_F(PortFormatterTest, ZerosAloneAreAZeroCounter) {
    PortFormatter formatter(2, PortFormat::Auto, false);
    EXPECT_EQ(feed(formatter, {write(2, 4, 0), write(2, 4, 0)}), "");
    formatter.flush(display);
    EXPECT_EQ(take(), "0x00000000\n0x00000000\n");
}

TEST(PortFormatNames, ParseAndName) {
    for (PortFormat f : {PortFormat::Auto, PortFormat::Text, PortFormat::Hex, PortFormat::Dec,
                         PortFormat::Signed, PortFormat::Float}) {
        PortFormat parsed = PortFormat::Pattern;
        EXPECT_TRUE(parsePortFormat(portFormatName(f), parsed)) << portFormatName(f);
        EXPECT_EQ(parsed, f);
    }
    PortFormat format = PortFormat::Auto;
    EXPECT_FALSE(parsePortFormat("HEX", format));
    EXPECT_FALSE(parsePortFormat("pattern", format));
    EXPECT_FALSE(parsePortFormat("", format));
}

}  // namespace
}  // namespace dravik::swv
