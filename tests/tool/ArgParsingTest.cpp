#include <gtest/gtest.h>

#include "dravik/swv/ArgParsing.h"

namespace dravik::swv {
namespace {

struct NumberCase {
    const char* text;
    uint64_t max;
    bool ok;
    uint64_t value;
    const char* error;
};

void PrintTo(const NumberCase& c, std::ostream* os) {
    *os << "'" << c.text << "'";
}

class ParseNumber : public testing::TestWithParam<NumberCase> {};

TEST_P(ParseNumber, DecimalOrHex) {
    const NumberCase& c = GetParam();
    uint64_t value = 12345;
    std::string error;
    EXPECT_EQ(parseNumber(c.text, c.max, value, error), c.ok);
    if (c.ok) {
        EXPECT_EQ(value, c.value);
    } else {
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(value, 12345u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseNumber,
    testing::Values(NumberCase{"72000000", 0x7FFFFFFF, true, 72000000, ""},
                    NumberCase{"0x20000000", 0xFFFFFFFF, true, 0x20000000, ""},
                    NumberCase{"0XffffFFFF", 0xFFFFFFFF, true, 0xFFFFFFFF, ""},
                    NumberCase{"0", 5, true, 0, ""},
                    NumberCase{"010", 100, true, 10, ""},  // no octal surprise
                    NumberCase{"0x100000000", 0xFFFFFFFF, false, 0,
                               "'0x100000000' is too large (at most 4294967295)"},
                    NumberCase{"9", 5, false, 0, "'9' is too large (at most 5)"},
                    NumberCase{"18446744073709551616", UINT64_MAX, false, 0,
                               "'18446744073709551616' is too large (at most "
                               "18446744073709551615)"},
                    NumberCase{"", 5, false, 0, "'' is not a number"},
                    NumberCase{"0x", 5, false, 0, "'0x' is not a number"},
                    NumberCase{"-1", 5, false, 0, "'-1' is not a number"},
                    NumberCase{"12k", 100000, false, 0, "'12k' is not a number"},
                    NumberCase{" 1", 5, false, 0, "' 1' is not a number"},
                    NumberCase{"0xfg", 1000, false, 0, "'0xfg' is not a number"}));

TEST(ParsePortOption, NumberEqualsFormat) {
    PortRoute route;
    std::string error;
    ASSERT_TRUE(parsePortOption("1=dec", route, error));
    EXPECT_EQ(route.port, 1u);
    EXPECT_EQ(route.format, PortFormat::Dec);
    ASSERT_TRUE(parsePortOption("255=hex", route, error));
    EXPECT_EQ(route.port, 255u);
    EXPECT_FALSE(parsePortOption("256=hex", route, error));
    EXPECT_EQ(error, "stimulus port: '256' is too large (at most 255)");
    EXPECT_FALSE(parsePortOption("0=bin", route, error));
    EXPECT_EQ(error,
              "'bin' is not a port format (auto, text, hex, dec, signed, float, or a pattern "
              "such as 'temp=%d')");
    EXPECT_FALSE(parsePortOption("0", route, error));
    EXPECT_EQ(error, "'0' is not of the form PORT=FORMAT");
    // A '%' makes it a pattern; the first '=' ends the port.
    ASSERT_TRUE(parsePortOption("3=temp=%d", route, error)) << error;
    EXPECT_EQ(route.format, PortFormat::Pattern);
    EXPECT_EQ(route.pattern.text(), "temp=%d");
    EXPECT_FALSE(parsePortOption("3=%s", route, error));
    EXPECT_EQ(error, "'%s': %s is not a number conversion (d i u o x X f e g a)");
    EXPECT_FALSE(parsePortOption("=hex", route, error));
    EXPECT_FALSE(parsePortOption("0=", route, error));
}

TEST(ParsePortFileOption, NumberEqualsPath) {
    PortFileOption option;
    std::string error;
    ASSERT_TRUE(parsePortFileOption("2=out/port=2.txt", option, error));
    EXPECT_EQ(option.port, 2u);
    EXPECT_EQ(option.path, "out/port=2.txt");
    EXPECT_FALSE(parsePortFileOption("x=path", option, error));
    EXPECT_EQ(error, "stimulus port: 'x' is not a number");
}

TEST(ParseClockList, CommaSeparatedClocks) {
    std::vector<uint32_t> clocks = {1};
    std::string error;
    ASSERT_TRUE(parseClockList("8000000,0xB71B00", clocks, error));
    EXPECT_EQ(clocks, (std::vector<uint32_t>{8000000, 12000000}));
    const struct {
        const char* text;
        const char* error;
    } bad[] = {{"8000000,", "'' is not a number"},
               {"8 MHz", "'8 MHz' is not a number"},
               {"0", "a clock of 0 Hz"},
               {"2147483648", "'2147483648' is too large (at most 2147483647)"}};
    for (const auto& c : bad) {
        EXPECT_FALSE(parseClockList(c.text, clocks, error)) << c.text;
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(clocks, (std::vector<uint32_t>{8000000, 12000000})) << "left as it was";
    }
}

TEST(ParseDuration, PositiveSeconds) {
    double seconds = 0;
    std::string error;
    ASSERT_TRUE(parseDuration("2.5", seconds, error));
    EXPECT_DOUBLE_EQ(seconds, 2.5);
    for (const char* bad : {"0", "-1", "", "1s", "nan", "inf"}) {
        EXPECT_FALSE(parseDuration(bad, seconds, error)) << bad;
        EXPECT_EQ(error, std::string("'") + bad + "' is not a duration in seconds above 0");
    }
}

TEST(TxModeNames, AreTheSetupFlags) {
    TxMode mode = TxMode::Nrz;
    ASSERT_TRUE(parseTxMode("manchester", mode));
    EXPECT_EQ(static_cast<int>(mode), 2);
    ASSERT_TRUE(parseTxMode("auto", mode));
    EXPECT_EQ(static_cast<int>(mode), 3);
    ASSERT_TRUE(parseTxMode("nrz", mode));
    EXPECT_EQ(static_cast<int>(mode), 1);
    EXPECT_FALSE(parseTxMode("uart", mode));
}

}  // namespace
}  // namespace dravik::swv
