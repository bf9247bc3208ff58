#include "dravik/itm/LineAssembler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DecoderTestSupport.h"

namespace dravik::itm::test {
namespace {

using K = PacketKind;
using Lines = std::vector<std::string>;

Packet write(uint8_t port, const std::string& text) {
    uint64_t value = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        value |= static_cast<uint64_t>(static_cast<uint8_t>(text[i])) << (8 * i);
    }
    return Expect(K::Instrumentation)
        .port(port)
        .size(static_cast<uint8_t>(text.size()))
        .value(value);
}

Lines assemble(LineAssembler& assembler, const std::vector<Packet>& packets) {
    Lines lines;
    for (const Packet& p : packets) {
        assembler.add(p, [&](std::string_view line) { lines.emplace_back(line); });
    }
    return lines;
}

TEST(LineAssemblerTest, WritesOfEveryWidthMakeLines) {
    LineAssembler console(0);
    EXPECT_EQ(assemble(console, {write(0, "H"), write(0, "i"), write(0, "\r"), write(0, "\n"),
                                 write(0, "Wo"), write(0, "rl"), write(0, "d\n"), write(0, "abcd"),
                                 write(0, "\n\nxy")}),
              (Lines{"Hi", "World", "abcd", ""}));
    EXPECT_EQ(console.pendingText(), "xy");
}

TEST(LineAssemblerTest, NulPaddingAndCarriageReturnsAreDropped) {
    LineAssembler console(0);
    EXPECT_EQ(assemble(console, {write(0, std::string("ok\r\n", 4)),
                                 write(0, std::string("z\0\0\0", 4)), write(0, "\r\n")}),
              (Lines{"ok", "z"}));
}

TEST(LineAssemblerTest, OnlyItsPortsInstrumentationCounts) {
    LineAssembler console(65);
    Packet dataValue = write(65, "no\n");
    dataValue.kind = K::DataTraceValue;
    EXPECT_EQ(assemble(console, {write(0, "x\n"), write(1, "y\n"), dataValue, write(65, "yes\n")}),
              (Lines{"yes"}));
    EXPECT_EQ(console.port(), 65u);
}

TEST(LineAssemblerTest, FlushHandsOutTheUnfinishedLineOnce) {
    LineAssembler console(0);
    assemble(console, {write(0, "par"), write(0, "t")});
    Lines lines;
    auto collect = [&](std::string_view line) { lines.emplace_back(line); };
    console.flush(collect);
    console.flush(collect);
    EXPECT_EQ(lines, Lines{"part"});
    EXPECT_TRUE(console.pendingText().empty());
}

TEST(LineAssemblerTest, LongLineIsSplitAtTheLimit) {
    LineAssembler console(0, 4);
    EXPECT_EQ(assemble(console, {write(0, "abcd"), write(0, "efgh"), write(0, "ij\n")}),
              (Lines{"abcd", "efgh", "ij"}));
}

TEST(LineAssemblerTest, ClearDropsTheUnfinishedLine) {
    LineAssembler console(0);
    assemble(console, {write(0, "junk")});
    console.clear();
    EXPECT_EQ(assemble(console, {write(0, "ok\n")}), Lines{"ok"});
}

TEST(LineAssemblerTest, TextFromADecodedStream) {
    const uint8_t bytes[] = {
        0x01, 'O', 0x02, 'K', '\r', 0x01, '\n',  // port 0
        0x09, 'x',                               // port 1
        0x70,                                    //
        0x03, 'l', 'i',  'n', 'e',  0x01, '\n',  // port 0
    };
    Decoder decoder;
    LineAssembler console(0);
    Lines lines;
    decoder.feed(bytes, sizeof bytes, [&](const Packet& p) {
        console.add(p, [&](std::string_view line) { lines.emplace_back(line); });
    });
    EXPECT_EQ(lines, (Lines{"OK", "line"}));
}

}  // namespace
}  // namespace dravik::itm::test
