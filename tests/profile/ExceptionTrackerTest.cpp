#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProfileTestSupport.h"
#include "dravik/profile/ExceptionTracker.h"

namespace dravik::profile {
namespace {

using test::entered;
using test::exited;
using test::returned;

struct Step {
    itm::Packet packet;
    std::optional<uint64_t> ticks;
};

std::string time(std::optional<uint64_t> ticks) {
    return ticks ? std::to_string(*ticks) : "?";
}

// "+16@0" entered; "=16 0..10" completed; "!16 0..20" given up when seen at 20.
std::string describe(const ExceptionEvent& e) {
    switch (e.kind) {
        case ExceptionEvent::Kind::Entered:
            return "+" + std::to_string(e.number) + "@" + time(e.ticks);
        case ExceptionEvent::Kind::Completed:
            return "=" + std::to_string(e.number) + " " + time(e.entryTicks) + ".." + time(e.ticks);
        case ExceptionEvent::Kind::Abandoned:
            return "!" + std::to_string(e.number) + " " + time(e.entryTicks) + ".." + time(e.ticks);
    }
    return "?";
}

std::vector<std::string> run(const std::vector<Step>& steps, size_t* depth = nullptr) {
    ExceptionTracker tracker;
    std::vector<ExceptionEvent> events;
    for (const Step& s : steps) {
        tracker.add(s.packet, s.ticks, events);
    }
    if (depth != nullptr) {
        *depth = tracker.depth();
    }
    std::vector<std::string> out;
    for (const ExceptionEvent& e : events) {
        out.push_back(describe(e));
    }
    return out;
}

struct Case {
    const char* what;
    std::vector<Step> steps;
    std::vector<std::string> events;
    size_t depthAfter;
};

TEST(ExceptionTracker, PairsEntriesWithExitsThroughNestingAndLoss) {
    const Case cases[] = {
        {"one handler",
         {{entered(15), 0}, {exited(15), 10}, {returned(0), 10}},
         {"+15@0", "=15 0..10"},
         0},
        {"preempted by a higher priority",
         {{entered(16), 0},
          {entered(17), 5},
          {exited(17), 8},
          {returned(16), 8},
          {exited(16), 20},
          {returned(0), 20}},
         {"+16@0", "+17@5", "=17 5..8", "=16 0..20"},
         0},
        {"tail-chained",
         {{entered(16), 0}, {exited(16), 4}, {entered(17), 4}, {exited(17), 9}, {returned(0), 9}},
         {"+16@0", "=16 0..4", "+17@4", "=17 4..9"},
         0},
        {"the inner exit was lost",
         {{entered(16), 0}, {entered(17), 5}, {exited(16), 20}},
         {"+16@0", "+17@5", "!17 5..20", "=16 0..20"},
         0},
        {"back in thread mode with a handler open",
         {{entered(16), 0}, {returned(0), 7}},
         {"+16@0", "!16 0..7"},
         0},
        {"back in an outer handler",
         {{entered(16), 0}, {entered(17), 2}, {entered(18), 3}, {returned(16), 6}},
         {"+16@0", "+17@2", "+18@3", "!18 3..6", "!17 2..6"},
         1},
        {"an exit whose entry came before the capture", {{exited(16), 3}, {returned(0), 3}}, {}, 0},
        {"entered again while open",
         {{entered(16), 0}, {entered(16), 5}},
         {"+16@0", "!16 0..5", "+16@5"},
         1},
        {"without timestamps",
         {{entered(16), std::nullopt}, {exited(16), std::nullopt}},
         {"+16@?", "=16 ?..?"},
         0},
        {"thread mode is never entered; other packets are ignored",
         {{entered(0), 1}, {test::pcSample(0x100), 2}, {test::overflow(), 3}},
         {},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        size_t depth = 0;
        EXPECT_EQ(run(c.steps, &depth), c.events);
        EXPECT_EQ(depth, c.depthAfter);
    }
}

TEST(ExceptionTracker, DurationsNeedACompletedPairWithBothTimes) {
    ExceptionEvent e{ExceptionEvent::Kind::Completed, 16, 100, 250};
    EXPECT_EQ(e.durationTicks(), std::optional<uint64_t>(150));
    e.entryTicks.reset();
    EXPECT_FALSE(e.durationTicks().has_value());
    EXPECT_FALSE((ExceptionEvent{ExceptionEvent::Kind::Abandoned, 16, 100, 250}.durationTicks()));
}

TEST(ExceptionTracker, GivesUpTheOldestFrameBeyondTheDepthLimitAndAllOfThemOnRequest) {
    std::vector<Step> steps;
    for (unsigned n = 0; n <= ExceptionTracker::kMaxDepth; ++n) {
        steps.push_back({entered(16 + n), n});
    }
    const std::vector<std::string> events = run(steps);
    ASSERT_EQ(events.size(), ExceptionTracker::kMaxDepth + 2);
    EXPECT_EQ(events[events.size() - 2], "!16 0..64");

    ExceptionTracker tracker;
    std::vector<ExceptionEvent> out;
    tracker.add(entered(15), 1, out);
    tracker.add(entered(16), 2, out);
    tracker.abandonAll(9, out);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(describe(out[2]), "!16 2..9");
    EXPECT_EQ(describe(out[3]), "!15 1..9");
    EXPECT_EQ(tracker.depth(), 0u);
}

TEST(ExceptionNames, SystemExceptionsByNameAndInterruptsByNumber) {
    const std::pair<unsigned, const char*> names[] = {
        {0, "Thread"},      {1, "Reset"},    {2, "NMI"},           {3, "HardFault"},
        {4, "MemManage"},   {5, "BusFault"}, {6, "UsageFault"},    {7, "Reserved7"},
        {10, "Reserved10"}, {11, "SVCall"},  {12, "DebugMonitor"}, {13, "Reserved13"},
        {14, "PendSV"},     {15, "SysTick"}, {16, "IRQ0"},         {511, "IRQ495"},
    };
    for (const auto& [number, name] : names) {
        EXPECT_EQ(exceptionName(number), name);
    }
}

}  // namespace
}  // namespace dravik::profile
