#include <gtest/gtest.h>

#include "ProfileTestSupport.h"
#include "dravik/profile/Profiler.h"

namespace dravik::profile {
namespace {

using test::entered;
using test::exited;
using test::pcSample;
using test::returned;
using test::sleepSample;

// Two functions with lines (line 10 in two pieces, as a loop's test is), one without.
SymbolTable makeSymbols() {
    return SymbolTable::fromParts(
        {{"f_a", 0x1000, 0x100}, {"f_b", 0x1100, 0x100}, {"f_c", 0x2000, 0x10}}, {"/src/main.c"},
        {{0x1000, 0x80, 0, 10},
         {0x1080, 0x40, 0, 11},
         {0x10C0, 0x40, 0, 10},
         {0x1100, 0x100, 0, 20}});
}

class ProfilerTest : public testing::Test {
  protected:
    SymbolTable symbols = makeSymbols();

    void samples(Profiler& profiler, uint32_t pc, int count) {
        for (int i = 0; i < count; ++i) {
            profiler.add(pcSample(pc), std::nullopt);
        }
    }
};

TEST_F(ProfilerTest, SharesCoverEverySampleSleepAndUnknownIncluded) {
    Profiler profiler(symbols, {});
    samples(profiler, 0x1005, 30);  // the Thumb bit does not matter
    samples(profiler, 0x1101, 50);
    samples(profiler, 0x3000, 10);  // outside every function
    for (int i = 0; i < 10; ++i) {
        profiler.add(sleepSample(), std::nullopt);
    }
    itm::Packet text{};
    text.kind = itm::PacketKind::Instrumentation;
    profiler.add(text, std::nullopt);

    const ProfileReport r = profiler.takeInterval(0.5);
    EXPECT_EQ(r.scope, ReportScope::Interval);
    EXPECT_EQ(r.interval, 1u);
    EXPECT_EQ(r.seconds, 0.5);
    EXPECT_EQ(r.samples, 100u);
    EXPECT_EQ(r.sleepSamples, 10u);
    EXPECT_EQ(r.sleepShare, 0.1);
    EXPECT_EQ(r.unknownSamples, 10u);
    EXPECT_EQ(r.unknownShare, 0.1);
    ASSERT_EQ(r.functions.size(), 2u);
    EXPECT_EQ(r.functions[0].name, "f_b");
    EXPECT_EQ(r.functions[0].samples, 50u);
    EXPECT_EQ(r.functions[0].share, 0.5);
    EXPECT_EQ(r.functions[0].address, 0x1100u);
    EXPECT_EQ(r.functions[1].name, "f_a");
    EXPECT_EQ(r.functions[1].share, 0.3);
    EXPECT_FALSE(r.hasLines);
    EXPECT_TRUE(r.lines.empty());
    EXPECT_TRUE(r.exceptions.empty());
}

TEST_F(ProfilerTest, LinesFoldTheRangesOfOneLineAndCountWhatNoLineCovers) {
    ProfilerOptions options;
    options.lines = true;
    Profiler profiler(symbols, options);
    samples(profiler, 0x1000, 2);  // line 10, first piece
    samples(profiler, 0x10C4, 2);  // line 10, second piece
    samples(profiler, 0x1090, 1);  // line 11
    samples(profiler, 0x1100, 3);  // line 20
    samples(profiler, 0x2004, 1);  // f_c has no lines
    samples(profiler, 0x5000, 1);  // nowhere
    const ProfileReport r = profiler.takeInterval(1);
    ASSERT_TRUE(r.hasLines);
    ASSERT_EQ(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[0].line, 10u);
    EXPECT_EQ(r.lines[0].samples, 4u);
    EXPECT_EQ(r.lines[0].function, "f_a");
    EXPECT_EQ(r.lines[0].file, "/src/main.c");
    EXPECT_EQ(r.lines[0].share, 0.4);
    EXPECT_EQ(r.lines[1].line, 20u);
    EXPECT_EQ(r.lines[1].function, "f_b");
    EXPECT_EQ(r.lines[2].line, 11u);
    EXPECT_EQ(r.unknownLineSamples, 2u);
    EXPECT_EQ(r.unknownLineShare, 0.2);
    EXPECT_EQ(r.unknownSamples, 1u);
}

TEST_F(ProfilerTest, IntervalsStartEmptyAndTheRunAddsThemUp) {
    Profiler profiler(symbols, {});
    samples(profiler, 0x1000, 3);
    profiler.add(entered(15), std::nullopt);
    const ProfileReport first = profiler.takeInterval(1.0);
    EXPECT_EQ(first.samples, 3u);

    samples(profiler, 0x1100, 1);
    profiler.add(test::overflow(), std::nullopt);
    profiler.noteGap();
    const ProfileReport second = profiler.takeInterval(3.0);
    EXPECT_EQ(second.interval, 2u);
    EXPECT_EQ(second.samples, 1u);
    ASSERT_EQ(second.functions.size(), 1u);
    EXPECT_EQ(second.functions[0].name, "f_b");
    EXPECT_TRUE(second.exceptions.empty());
    EXPECT_EQ(second.overflows, 1u);
    EXPECT_EQ(second.gaps, 1u);

    const ProfileReport run = profiler.total();
    EXPECT_EQ(run.scope, ReportScope::Run);
    EXPECT_EQ(run.interval, 2u);
    EXPECT_EQ(run.seconds, 4.0);
    EXPECT_EQ(run.samples, 4u);
    ASSERT_EQ(run.functions.size(), 2u);
    EXPECT_EQ(run.functions[0].name, "f_a");
    EXPECT_EQ(run.functions[0].share, 0.75);
    ASSERT_EQ(run.exceptions.size(), 1u);
    EXPECT_EQ(run.exceptions[0].count, 1u);
    EXPECT_EQ(run.exceptions[0].perSecond, 0.25);
    EXPECT_EQ(run.overflows, 1u);
    EXPECT_EQ(profiler.takeInterval(1.0).samples, 0u);
}

TEST_F(ProfilerTest, ExceptionsHaveCountRateAndEntryToExitTimes) {
    ProfilerOptions options;
    options.timestampHz = 1e6;
    Profiler profiler(symbols, options);
    uint64_t t = 0;
    for (uint64_t duration : {10, 20, 30, 40}) {
        profiler.add(entered(15), t);
        profiler.add(exited(15), t + duration);
        profiler.add(returned(0), t + duration);
        t += 1000;
    }
    profiler.add(entered(16), std::nullopt);  // no timestamp: counted, not timed
    profiler.add(exited(16), std::nullopt);
    profiler.add(entered(17), t);  // left in the next interval
    const ProfileReport first = profiler.takeInterval(2.0);
    profiler.add(exited(17), t + 500);
    const ProfileReport second = profiler.takeInterval(1.0);

    ASSERT_EQ(first.exceptions.size(), 3u);
    const ExceptionSummary& tick = first.exceptions[0];
    EXPECT_EQ(tick.number, 15u);
    EXPECT_EQ(tick.name, "SysTick");
    EXPECT_EQ(tick.count, 4u);
    EXPECT_EQ(tick.perSecond, 2.0);
    EXPECT_EQ(tick.timed, 4u);
    EXPECT_EQ(tick.meanTicks, 25.0);
    EXPECT_EQ(tick.maxTicks, 40u);
    EXPECT_DOUBLE_EQ(tick.meanSeconds.value_or(0), 25e-6);
    EXPECT_DOUBLE_EQ(tick.maxSeconds.value_or(0), 40e-6);
    EXPECT_EQ(first.exceptions[1].name, "IRQ0");
    EXPECT_EQ(first.exceptions[1].count, 1u);
    EXPECT_EQ(first.exceptions[1].timed, 0u);
    EXPECT_FALSE(first.exceptions[1].meanSeconds.has_value());
    EXPECT_EQ(first.exceptions[2].count, 1u);
    EXPECT_EQ(first.exceptions[2].timed, 0u);

    ASSERT_EQ(second.exceptions.size(), 1u);
    EXPECT_EQ(second.exceptions[0].name, "IRQ1");
    EXPECT_EQ(second.exceptions[0].count, 0u);
    EXPECT_EQ(second.exceptions[0].timed, 1u);
    EXPECT_EQ(second.exceptions[0].maxTicks, 500u);
}

TEST_F(ProfilerTest, LostTraceUnpairsTheExceptionsInFlight) {
    ProfilerOptions options;
    options.timestampHz = 1e6;
    Profiler profiler(symbols, options);
    profiler.add(entered(16), 0);
    profiler.add(test::overflow(), 5);
    profiler.add(exited(16), 10);
    profiler.add(entered(17), 20);
    profiler.noteGap();
    profiler.add(exited(17), 30);
    const ProfileReport r = profiler.takeInterval(1.0);
    ASSERT_EQ(r.exceptions.size(), 2u);
    EXPECT_EQ(r.exceptions[0].count, 1u);
    EXPECT_EQ(r.exceptions[0].timed, 0u);
    EXPECT_EQ(r.exceptions[1].timed, 0u);
}

}  // namespace
}  // namespace dravik::profile
