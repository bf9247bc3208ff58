#include <gtest/gtest.h>

#include <map>

#include "dravik/swv/ClockDiscovery.h"

namespace dravik::swv {
namespace {

// Verdicts as short listens give them: 4 KiB of trace, clean or garbage; or nothing.
HealthVerdict heard(StreamCondition condition) {
    HealthVerdict verdict;
    verdict.condition = condition;
    verdict.span.bytes = condition == StreamCondition::NoTrace ? 0 : 4096;
    verdict.span.packets = condition == StreamCondition::NoTrace ? 0 : 1000;
    verdict.span.undecodableBytes = condition == StreamCondition::Corrupt ? 569 : 0;
    return verdict;
}

RateOptions swoRate(uint32_t bps) {
    RateOptions options;
    options.rateBps = bps;
    return options;
}

// Runs a discovery in which each clock's trace is as scripted (a clock not scripted decodes), and
// notes the rates tried and the trials as they were reported.
struct Scripted {
    std::map<uint32_t, StreamCondition> conditions;
    std::optional<uint32_t> failAt;  // the runner's call fails at this clock
    std::vector<std::string> tried;  // "72000000/36"
    std::vector<std::string> reported;

    ClockDiscovery run(const std::vector<ClockCandidate>& candidates, const RateOptions& request) {
        return discoverTraceClock(
            candidates, request,
            [this](const ClockCandidate& candidate,
                   const RateChoice& rate) -> std::optional<HealthVerdict> {
                EXPECT_EQ(candidate.hz, rate.clockHz);
                tried.push_back(std::to_string(rate.clockHz) + "/" +
                                std::to_string(rate.prescaler));
                if (failAt == rate.clockHz) {
                    return std::nullopt;
                }
                const auto found = conditions.find(rate.clockHz);
                return heard(found == conditions.end() ? StreamCondition::Healthy : found->second);
            },
            [this](const ClockTrial& trial) {
                reported.push_back(describeTrial(trial) + (trial.kept ? " [kept]" : ""));
            });
    }
};

TEST(ClockDiscovery, CandidatesAreTheCoreClockItsHalfAndQuarterThenTheListedEachOnce) {
    const std::vector<ClockCandidate> candidates =
        clockCandidates(72000000, {36000000, 12000000, 12000000});
    std::vector<std::string> described;
    for (const ClockCandidate& candidate : candidates) {
        described.push_back(describeCandidate(candidate));
    }
    EXPECT_EQ(described, (std::vector<std::string>{"72 MHz", "36 MHz (core clock / 2)",
                                                   "18 MHz (core clock / 4)",
                                                   "12 MHz (from --clock-candidates)"}));
    // A core too slow to divide leaves no zero clock behind.
    EXPECT_EQ(clockCandidates(3, {}).size(), 2u);
}

TEST(ClockDiscovery, KeepsTheFirstClockWhoseTraceDecodes) {
    using C = StreamCondition;
    using Outcome = ClockDiscovery::Outcome;
    const struct {
        const char* name;
        std::map<uint32_t, StreamCondition> conditions;  // by clock; others decode
        Outcome outcome;
        std::vector<std::string> tried;
    } cases[] = {
        {"the measured clock decodes", {}, Outcome::Confirmed, {"72000000/36"}},
        {"the TPIU runs at half the core clock",
         {{72000000, C::Corrupt}},
         Outcome::Confirmed,
         {"72000000/36", "36000000/18"}},
        {"a listed clock",
         {{72000000, C::Corrupt}, {36000000, C::Corrupt}, {18000000, C::Corrupt}},
         Outcome::Confirmed,
         {"72000000/36", "36000000/18", "18000000/9", "12000000/6"}},
        {"none decodes",
         {{72000000, C::Corrupt},
          {36000000, C::Corrupt},
          {18000000, C::Corrupt},
          {12000000, C::Corrupt}},
         Outcome::NoneDecodes,
         {"72000000/36", "36000000/18", "18000000/9", "12000000/6"}},
        // Nothing arrived to judge the measured clock on, and nothing argued against it.
        {"silence at the measured clock",
         {{72000000, C::NoTrace}},
         Outcome::Unconfirmed,
         {"72000000/36"}},
        // After garbage, silence is no confirmation.
        {"silence after garbage",
         {{72000000, C::Corrupt}, {36000000, C::TooLittle}},
         Outcome::Confirmed,
         {"72000000/36", "36000000/18", "18000000/9"}},
        // Overflows and stray ports are not a wrong rate.
        {"an overflowing stream decodes",
         {{72000000, C::Overflowing}},
         Outcome::Confirmed,
         {"72000000/36"}},
        {"stray ports decode", {{72000000, C::StrayPorts}}, Outcome::Confirmed, {"72000000/36"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Scripted script;
        script.conditions = c.conditions;
        const ClockDiscovery found =
            script.run(clockCandidates(72000000, {12000000}), swoRate(2000000));
        EXPECT_EQ(found.outcome, c.outcome);
        EXPECT_EQ(script.tried, c.tried);
        ASSERT_EQ(found.trials.size(), c.tried.size());
        EXPECT_EQ(found.kept(), found.trials.back().kept);
    }
}

TEST(ClockDiscovery, AFailedTrialEndsTheSearch) {
    Scripted script;
    script.conditions = {{72000000, StreamCondition::Corrupt}};
    script.failAt = 36000000;
    const ClockDiscovery found = script.run(clockCandidates(72000000, {}), swoRate(2000000));
    EXPECT_EQ(found.outcome, ClockDiscovery::Outcome::Aborted);
    EXPECT_EQ(script.tried, (std::vector<std::string>{"72000000/36", "36000000/18"}));
    EXPECT_EQ(describeDiscovery(found), "");
}

TEST(ClockDiscovery, TheRateIsChosenAgainForEachClock) {
    // 6 Mbit/s: each clock its own divider.
    Scripted solved;
    solved.conditions = {{72000000, StreamCondition::Corrupt},
                         {36000000, StreamCondition::Corrupt},
                         {18000000, StreamCondition::Corrupt}};
    ClockDiscovery found = solved.run(clockCandidates(72000000, {}), swoRate(6000000));
    EXPECT_EQ(solved.tried, (std::vector<std::string>{"72000000/12", "36000000/6", "18000000/3"}));

    // 30 Mbit/s: no clock comes within 3 %, so none is tried.
    Scripted none;
    found = none.run(clockCandidates(72000000, {}), swoRate(30000000));
    EXPECT_EQ(found.outcome, ClockDiscovery::Outcome::NoneUsable);
    EXPECT_TRUE(none.tried.empty());
    EXPECT_EQ(describeDiscovery(found),
              "no clock tried gives the SWO rate within 3 %\n"
              "  skipped for the rate: the measured 72 MHz, 36 MHz (core clock / 2), 18 MHz (core "
              "clock / 4)\n"
              "  choose another --swo-rate or accept the closest with --force,\n"
              "  or give the clock the TPIU divides with --clock HZ\n");
    // --force tries them all the same.
    RateOptions forced = swoRate(30000000);
    forced.force = true;
    Scripted all;
    all.conditions = {{72000000, StreamCondition::Corrupt}};
    found = all.run(clockCandidates(72000000, {}), forced);
    EXPECT_EQ(all.tried, (std::vector<std::string>{"72000000/3", "36000000/1"}));

    // A given divider stays; the rate follows the clock.
    RateOptions divider;
    divider.prescaler = 4;
    Scripted fixed;
    fixed.conditions = {{72000000, StreamCondition::Corrupt}};
    found = fixed.run(clockCandidates(72000000, {}), divider);
    EXPECT_EQ(fixed.tried, (std::vector<std::string>{"72000000/4", "36000000/4"}));
}

TEST(ClockDiscovery, SaysWhatEachTrialFoundAndWhatWasKept) {
    Scripted script;
    script.conditions = {{72000000, StreamCondition::Corrupt},
                         {36000000, StreamCondition::NoTrace},
                         {18000000, StreamCondition::Corrupt}};
    RateOptions request = swoRate(6000000);
    request.clockCandidates = {12000000};
    ClockDiscovery found = script.run(clockCandidates(72000000, request.clockCandidates), request);
    EXPECT_EQ(script.reported, (std::vector<std::string>{
                                   "trace clock 72 MHz: does not decode (13.9 % formed no packet)",
                                   "trace clock 36 MHz: not confirmed: no trace arrived",
                                   "trace clock 18 MHz: does not decode (13.9 % formed no packet)",
                                   "trace clock 12 MHz: 4096 bytes, and they decode [kept]"}));
    EXPECT_EQ(describeDiscovery(found), "using trace clock 12 MHz, from --clock-candidates\n");
    script = Scripted{};
    script.conditions = {{72000000, StreamCondition::Corrupt}};
    EXPECT_EQ(describeDiscovery(script.run(clockCandidates(72000000, {}), request)),
              "using trace clock 36 MHz, the core clock / 2\n");
    // Confirmed at the first try, the trial's line says it all; silence leaves it unconfirmed.
    script = Scripted{};
    EXPECT_EQ(describeDiscovery(script.run(clockCandidates(72000000, {}), request)), "");
    script.conditions = {{72000000, StreamCondition::NoTrace}};
    EXPECT_EQ(describeDiscovery(script.run(clockCandidates(72000000, {}), request)),
              "using trace clock 72 MHz, unconfirmed\n");
    script.conditions = {{72000000, StreamCondition::Corrupt},
                         {36000000, StreamCondition::Corrupt},
                         {18000000, StreamCondition::Corrupt}};
    EXPECT_EQ(describeDiscovery(script.run(clockCandidates(72000000, {}), request)),
              "the trace decodes at none of the clocks tried\n"
              "  tried the measured 72 MHz, 36 MHz (core clock / 2), 18 MHz (core clock / 4)\n"
              "  give the clock the TPIU divides with --clock HZ\n");

    ClockTrial skipped;
    skipped.candidate = {18000000, CandidateOrigin::CoreDivided, 4};
    skipped.rate = *solvePrescaler(18000000, 7000000);
    EXPECT_EQ(describeTrial(skipped),
              "trace clock 18 MHz: skipped: no prescaler gives 7000000 bit/s within 3 % (the "
              "closest is 6000000 bit/s (18000000 Hz / 3), error -14.286 %)");
}

}  // namespace
}  // namespace dravik::swv
