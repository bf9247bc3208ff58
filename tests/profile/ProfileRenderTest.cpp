#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "dravik/profile/ProfileRender.h"

namespace dravik::profile {
namespace {

ProfileReport sampleReport() {
    ProfileReport r;
    r.scope = ReportScope::Interval;
    r.interval = 3;
    r.seconds = 1.0;
    r.samples = 1000;
    r.sleepSamples = 200;
    r.sleepShare = 0.2;
    r.unknownSamples = 50;
    r.unknownShare = 0.05;
    r.functions = {{"work_heavy", 0x08000054, 128, 400, 0.4},
                   {"a_function_with_a_rather_long_name", 0x080000D4, 64, 300, 0.3},
                   {"work_light", 0x08000114, 32, 50, 0.05}};
    ExceptionSummary tick;
    tick.number = 15;
    tick.name = "SysTick";
    tick.count = 1000;
    tick.perSecond = 1000;
    tick.timed = 1000;
    tick.meanTicks = 180;
    tick.maxTicks = 260;
    tick.meanSeconds = 2.5e-6;
    tick.maxSeconds = 3.61e-6;
    ExceptionSummary irq;
    irq.number = 16;
    irq.name = "IRQ0";
    irq.count = 12;
    irq.perSecond = 12;
    r.exceptions = {tick, irq};
    r.timestampHz = 72e6;
    return r;
}

TEST(ProfileRender, PlainTableShowsEveryRow) {
    EXPECT_EQ(renderTable(sampleReport()),
              "interval 3, 1.000 s: 1000 PC samples (1000/s), 20.0 % sleeping, 5.0 % unknown\n"
              "\n"
              "  SHARE     SAMPLES  FUNCTION\n"
              " 40.0 %         400  work_heavy\n"
              " 30.0 %         300  a_function_with_a_rather_long_name\n"
              "  5.0 %          50  work_light\n"
              "  5.0 %          50  unknown\n"
              "\n"
              "  EXC  NAME               COUNT      RATE/s        MEAN         MAX\n"
              "   15  SysTick             1000      1000.0     2.50 us     3.61 us\n"
              "   16  IRQ0                  12        12.0           -           -\n"
              "\n");
}

TEST(ProfileRender, RunSummaryAndLinesAndLosses) {
    ProfileReport r;
    r.scope = ReportScope::Run;
    r.interval = 2;
    r.seconds = 2.0;
    r.samples = 10;
    r.unknownSamples = 1;
    r.unknownShare = 0.1;
    r.overflows = 1;
    r.gaps = 2;
    r.functions = {{"main", 0x100, 8, 9, 0.9}};
    r.hasLines = true;
    r.lines = {{"/home/dev/fw/src/main.c", 42, "main", 9, 0.9}};
    r.unknownLineSamples = 1;
    r.unknownLineShare = 0.1;
    EXPECT_EQ(renderTable(r),
              "whole run, 2 intervals, 2.000 s: 10 PC samples (5/s), 0.0 % sleeping, 10.0 % "
              "unknown, 1 overflow, 2 gaps\n"
              "\n"
              "  SHARE     SAMPLES  FUNCTION\n"
              " 90.0 %           9  main\n"
              " 10.0 %           1  unknown\n"
              "\n"
              "  SHARE     SAMPLES  LINE                          FUNCTION\n"
              " 90.0 %           9  main.c:42                     main\n"
              " 10.0 %           1  unknown\n"
              "\n");
}

TEST(ProfileRender, ScreenRedrawsInPlaceCutToTheTerminal) {
    // 40 columns, 12 rows: the headline, a blank line and a heading per table and a last line
    // left free take 6, which leaves the 6 rows the tables have. Numbers the width would cut
    // are left out whole.
    EXPECT_EQ(renderScreen(sampleReport(), {40, 12}),
              "\x1b[H"
              "interval 3, 1.000 s: 1000 PC samples \x1b[K\n"
              "\x1b[K\n"
              "  SHARE     SAMPLES  FUNCTION\x1b[K\n"
              " 40.0 %         400  work_heavy\x1b[K\n"
              " 30.0 %         300  a_function_with_a_r\x1b[K\n"
              "  5.0 %          50  work_light\x1b[K\n"
              "  5.0 %          50  unknown\x1b[K\n"
              "\x1b[K\n"
              "  EXC  NAME               COUNT      RAT\x1b[K\n"
              "   15  SysTick             1000      \x1b[K\n"
              "   16  IRQ0                  12        \x1b[K\n"
              "\x1b[J");
    // Two rows fewer: the short table first, then the function table keeps 2 rows, the last
    // saying what is left out.
    EXPECT_EQ(renderScreen(sampleReport(), {40, 10}),
              "\x1b[H"
              "interval 3, 1.000 s: 1000 PC samples \x1b[K\n"
              "\x1b[K\n"
              "  SHARE     SAMPLES  FUNCTION\x1b[K\n"
              " 40.0 %         400  work_heavy\x1b[K\n"
              "... 3 more\x1b[K\n"
              "\x1b[K\n"
              "  EXC  NAME               COUNT      RAT\x1b[K\n"
              "   15  SysTick             1000      \x1b[K\n"
              "   16  IRQ0                  12        \x1b[K\n"
              "\x1b[J");
    // Too small for anything but the first lines; UTF-8 counts as one column a character.
    ProfileReport named = sampleReport();
    named.functions[0].name = "\xc3\xa9t\xc3\xa9";
    EXPECT_EQ(renderScreen(named, {24, 4}),
              "\x1b[H"
              "interval 3, 1.000 s: \x1b[K\n"
              "\x1b[K\n"
              "  SHARE     SAMPLES  FUN\x1b[K\n"
              "\x1b[J");
    EXPECT_NE(renderScreen(named, {23, 12}).find("\n 40.0 %         400  \xc3\xa9t\x1b[K\n"),
              std::string::npos);
}

TEST(ProfileRender, JsonIsOneObjectPerReport) {
    const std::string text = renderJson(sampleReport());
    ASSERT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\n'), text.size() - 1);
    const nlohmann::json j = nlohmann::json::parse(text);
    EXPECT_EQ(j["scope"], "interval");
    EXPECT_EQ(j["interval"], 3);
    EXPECT_EQ(j["samples"], 1000);
    EXPECT_EQ(j["sleep_share"], 0.2);
    EXPECT_EQ(j["unknown_samples"], 50);
    EXPECT_FALSE(j.contains("lines"));
    ASSERT_EQ(j["functions"].size(), 3u);
    EXPECT_EQ(
        j["functions"][0],
        nlohmann::json::parse(
            R"({"name":"work_heavy","address":134217812,"size":128,"samples":400,"share":0.4})"));
    ASSERT_EQ(j["exceptions"].size(), 2u);
    EXPECT_EQ(j["exceptions"][0],
              nlohmann::json::parse(R"({"number":15,"name":"SysTick","count":1000,
                  "per_second":1000.0,"timed":1000,"mean_ticks":180.0,"max_ticks":260,
                  "mean_seconds":2.5e-06,"max_seconds":3.61e-06})"));
    EXPECT_EQ(j["exceptions"][1],
              nlohmann::json::parse(
                  R"({"number":16,"name":"IRQ0","count":12,"per_second":12.0,"timed":0})"));

    ProfileReport run = sampleReport();
    run.scope = ReportScope::Run;
    run.functions[0].name = "bad\xff";
    const nlohmann::json k = nlohmann::json::parse(renderJson(run));
    EXPECT_EQ(k["scope"], "run");
    EXPECT_EQ(k["intervals"], 3);
    EXPECT_EQ(k["functions"][0]["name"], "bad\xef\xbf\xbd");
}

TEST(ProfileRender, SecondsInAReadableUnit) {
    EXPECT_EQ(formatSeconds(2.5e-6), "2.50 us");
    EXPECT_EQ(formatSeconds(0.0123456), "12.35 ms");
    EXPECT_EQ(formatSeconds(1.5), "1.500 s");
}

}  // namespace
}  // namespace dravik::profile
