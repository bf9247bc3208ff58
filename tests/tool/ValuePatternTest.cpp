#include <gtest/gtest.h>

#include "dravik/swv/ValuePattern.h"

namespace dravik::swv {
namespace {

itm::Packet write(unsigned size, uint32_t value) {
    itm::Packet packet{};
    packet.kind = itm::PacketKind::Instrumentation;
    packet.size = static_cast<uint8_t>(size);
    packet.value = value;
    return packet;
}

TEST(ValuePattern, FormatsOneValueAWrite) {
    const struct {
        const char* pattern;
        itm::Packet write;
        const char* shown;
    } cases[] = {
        {"temp=%d", write(4, 21), "temp=21"},
        {"%d", write(1, 0xFF), "-1"},  // sign-extended from the write's size
        {"%i", write(2, 0x8000), "-32768"},
        {"%u", write(4, 0xFFFFFFFF), "4294967295"},
        {"%+05d|", write(4, 7), "+0007|"},
        {"%-4u|", write(4, 7), "7   |"},
        {"0x%08X", write(2, 0xBEEF), "0x0000BEEF"},
        {"%#o", write(1, 8), "010"},
        {"%.2f V", write(4, 0x40490FDB), "3.14 V"},
        {"%e", write(4, 0xC0000000), "-2.000000e+00"},
        {"%g%%", write(4, 0x42C80000), "100%"},
        {"%a", write(4, 0x3F800000), "0x1p+0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        ValuePattern pattern;
        std::string error;
        ASSERT_TRUE(ValuePattern::parse(c.pattern, pattern, error)) << error;
        std::string out = "<";
        ASSERT_TRUE(pattern.format(c.write, out));
        EXPECT_EQ(out, std::string("<") + c.shown);
    }
}

TEST(ValuePattern, AFloatConversionTakesWordsOnly) {
    ValuePattern pattern;
    std::string error;
    ASSERT_TRUE(ValuePattern::parse("%f", pattern, error));
    std::string out;
    EXPECT_FALSE(pattern.format(write(2, 0x4049), out));
    EXPECT_EQ(out, "");
}

TEST(ValuePattern, RefusesWhatIsNotOneBoundedNumberConversion) {
    const struct {
        std::string pattern;
        const char* error;
    } cases[] = {
        {"temp", "'temp' has no conversion for the value (such as %d, %x or %f)"},
        {"100%%", "'100%%' has no conversion for the value (such as %d, %x or %f)"},
        {"%d %d", "'%d %d' has more than one conversion; one value is shown per write"},
        {"%n", "'%n': %n is not allowed"},
        {"%s", "'%s': %s is not a number conversion (d i u o x X f e g a)"},
        {"%c", "'%c': %c is not a number conversion (d i u o x X f e g a)"},
        {"%p", "'%p': %p is not a number conversion (d i u o x X f e g a)"},
        {"%ld", "'%ld': no length modifiers (h, l, ...); the size of the write decides"},
        {"%hhx", "'%hhx': no length modifiers (h, l, ...); the size of the write decides"},
        {"%*d", "'%*d': '*' is not taken; write the width in the pattern"},
        {"%.*f", "'%.*f': '*' is not taken; write the width in the pattern"},
        {"%65d", "'%65d': a width above 64"},
        {"%99999999999999999999d", "'%99999999999999999999d': a width above 64"},
        {"%.65f", "'%.65f': a precision above 64"},
        {"%5", "'%5' ends inside a conversion"},
        {"a\nb %d", "'a\nb %d' holds a control character"},
        {std::string(129, 'x') + "%d", "a pattern of more than 128 characters"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        ValuePattern pattern;
        std::string error;
        EXPECT_FALSE(ValuePattern::parse(c.pattern, pattern, error));
        EXPECT_EQ(error, c.error);
        EXPECT_TRUE(pattern.empty());
    }
}

TEST(ValuePattern, TheWidestPatternFitsTheLargestValue) {
    ValuePattern pattern;
    std::string error;
    ASSERT_TRUE(ValuePattern::parse("%64.64f", pattern, error)) << error;
    std::string out;
    ASSERT_TRUE(pattern.format(write(4, 0x7F7FFFFF), out));  // FLT_MAX: 39 digits
    EXPECT_EQ(out.size(), 39u + 1 + 64);
    EXPECT_EQ(out.rfind("340282346638528859811704183484516925440.", 0), 0u);
}

}  // namespace
}  // namespace dravik::swv
