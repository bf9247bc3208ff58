#include <gtest/gtest.h>

#include <sstream>

#include "ToolTestSupport.h"
#include "dravik/swv/Colour.h"
#include "dravik/swv/StatusLine.h"

namespace dravik::swv {
namespace {

class StatusLineTest : public testing::Test {
  protected:
    std::string drawn() {
        std::string text = err.str();
        err.str("");
        return text;
    }

    test::FakeTraceInterface api;
    test::FakeClock clock;
    std::ostringstream out;
    std::ostringstream err;
    ToolEnvironment env{api, out, err, clock};
    unsigned columns = 20;
    std::atomic<int> resizes{0};
    static constexpr uint64_t kFrame = StatusLine::kFramePeriodUs;
};

TEST_F(StatusLineTest, IsCutToTheTerminalAndDrawnOnlyWhenItChanges) {
    env.terminalColumns = [this] { return columns; };
    env.resizes = &resizes;
    StatusLine status(env, true);
    EXPECT_TRUE(status.frameDue(0));
    EXPECT_TRUE(status.draw("0123456789abcdefghijKLMN", 0));
    EXPECT_EQ(drawn(), "\r\033[K0123456789abcdefghi");  // 19 of 20 columns
    EXPECT_FALSE(status.frameDue(kFrame - 1));
    EXPECT_TRUE(status.frameDue(kFrame));
    // Only the cut text counts: what the terminal does not show does not make a draw.
    EXPECT_FALSE(status.draw("0123456789abcdefghijXYZ", kFrame));
    EXPECT_EQ(drawn(), "");
    // Taken away, it is drawn again even unchanged.
    status.erase();
    EXPECT_EQ(drawn(), "\r\033[K");
    status.erase();
    EXPECT_EQ(drawn(), "");
    EXPECT_TRUE(status.draw("0123456789abcdefghijXYZ", kFrame));
    EXPECT_EQ(drawn(), "\r\033[K0123456789abcdefghi");
    // A resize is followed.
    columns = 8;
    EXPECT_FALSE(
        status.draw("0123456789abcdefghijXYZ", 2 * kFrame));  // not asked before the signal
    resizes.fetch_add(1);
    EXPECT_TRUE(status.draw("0123456789abcdefghijXYZ", 3 * kFrame));
    EXPECT_EQ(drawn(), "\r\033[K0123456");
}

TEST_F(StatusLineTest, OffATerminalNothingIsWritten) {
    StatusLine status(env, false);
    EXPECT_FALSE(status.frameDue(0));
    EXPECT_FALSE(status.draw("5.0 s", 0));
    status.erase();
    EXPECT_EQ(drawn(), "");
}

TEST_F(StatusLineTest, WithoutAWidthEightyColumns) {
    StatusLine status(env, true);
    status.draw(std::string(100, 'x'), 0);
    EXPECT_EQ(drawn(), "\r\033[K" + std::string(79, 'x'));
}

TEST(Colour, AutoColoursATerminalUnlessNoColorIsSet) {
    const struct {
        ColorMode mode;
        bool terminal;
        bool noColor;
        bool colored;
    } cases[] = {
        {ColorMode::Auto, true, false, true},   {ColorMode::Auto, false, false, false},
        {ColorMode::Auto, true, true, false},   {ColorMode::Always, false, true, true},
        {ColorMode::Never, true, false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(useColor(c.mode, c.terminal, c.noColor), c.colored)
            << colorModeName(c.mode) << c.terminal << c.noColor;
    }
    ColorMode mode = ColorMode::Auto;
    EXPECT_TRUE(parseColorMode("never", mode));
    EXPECT_EQ(mode, ColorMode::Never);
    EXPECT_FALSE(parseColorMode("yes", mode));
}

TEST(Colour, WarningsHaveTheirWordColoured) {
    EXPECT_EQ(colorWarning("dravik-swv: warning: the trace does not decode\n"),
              "dravik-swv: \033[1;33mwarning:\033[0m the trace does not decode\n");
    EXPECT_EQ(colorWarning("captured 5 bytes\n  warning: none\n"),
              "captured 5 bytes\n  warning: none\n");
}

}  // namespace
}  // namespace dravik::swv
