#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ProfileTestSupport.h"
#include "dravik/profile/Timeline.h"

namespace dravik::profile {
namespace {

using nlohmann::json;
using test::entered;
using test::exited;
using test::returned;

struct Track {
    std::string name;
    std::vector<json> events;  // in file order, metadata left out
};

// The events by track (tid), after checking what every viewer relies on: a JSON array, times
// that never go back on a track, and every "B" closed by an "E" of the same name in nesting
// order.
std::map<int, Track> parseTimeline(const std::string& text) {
    const json all = json::parse(text);
    EXPECT_TRUE(all.is_array());
    std::map<int, Track> tracks;
    std::map<int, std::vector<std::string>> open;
    std::map<int, double> last;
    for (const json& e : all) {
        const int tid = e.at("tid").get<int>();
        EXPECT_EQ(e.at("pid"), 1);
        if (e.at("ph") == "M") {
            if (e.at("name") == "thread_name") {
                tracks[tid].name = e.at("args").at("name").get<std::string>();
            }
            continue;
        }
        const double ts = e.at("ts").get<double>();
        if (last.count(tid) != 0) {
            EXPECT_GE(ts, last[tid]) << e.dump();
        }
        last[tid] = ts;
        if (e.at("ph") == "B") {
            open[tid].push_back(e.at("name"));
        } else if (e.at("ph") == "E") {
            EXPECT_FALSE(open[tid].empty()) << e.dump();
            if (!open[tid].empty()) {
                EXPECT_EQ(open[tid].back(), e.at("name"));
                open[tid].pop_back();
            }
        }
        tracks[tid].events.push_back(e);
    }
    for (const auto& [tid, names] : open) {
        EXPECT_TRUE(names.empty()) << "track " << tid << " left open";
    }
    return tracks;
}

// ph and ts of each event, as "B@1.000".
std::vector<std::string> phases(const Track& track) {
    std::vector<std::string> out;
    for (const json& e : track.events) {
        char ts[32];
        std::snprintf(ts, sizeof ts, "%.3f", e.at("ts").get<double>());
        out.push_back(e.at("ph").get<std::string>() + "@" + ts);
    }
    return out;
}

TEST(Timeline, ExceptionsAreDurationsOnTracksOfTheirOwn) {
    TimelineOptions options;
    options.timestampHz = 1e6;  // a tick a microsecond
    TimelineWriter timeline(options);
    std::string text;
    const struct {
        itm::Packet packet;
        std::optional<uint64_t> ticks;
    } steps[] = {
        {entered(16), 1000},        {entered(15), 1005},
        {exited(15), 1008},         {returned(16), 1008},
        {exited(16), 1020},         {returned(0), 1020},
        {entered(16), 1100},        {entered(17), 1110},
        {test::overflow(), 1130},                                 // both open ones lost their exits
        {exited(17), 1140},         {entered(16), std::nullopt},  // no time: left out
        {exited(16), std::nullopt}, {entered(15), 1200},          // still running at the end
    };
    for (const auto& s : steps) {
        timeline.add(s.packet, s.ticks);
        text += timeline.take();
    }
    text += timeline.finish();
    EXPECT_EQ(timeline.finish(), "");
    EXPECT_EQ(timeline.untimedEvents(), 1u);

    const std::map<int, Track> tracks = parseTimeline(text);
    ASSERT_EQ(tracks.count(15), 1u);
    EXPECT_EQ(tracks.at(15).name, "SysTick");
    EXPECT_EQ(phases(tracks.at(15)),
              (std::vector<std::string>{"B@5.000", "E@8.000", "B@200.000", "E@200.000"}));
    EXPECT_EQ(tracks.at(16).name, "IRQ0");
    EXPECT_EQ(phases(tracks.at(16)),
              (std::vector<std::string>{"B@0.000", "E@20.000", "B@100.000", "E@130.000"}));
    EXPECT_EQ(tracks.at(16).events[3]["args"]["exit"], "lost");
    EXPECT_EQ(tracks.at(16).events[0]["args"]["number"], 16);
    EXPECT_EQ(phases(tracks.at(17)), (std::vector<std::string>{"B@110.000", "E@130.000"}));
    EXPECT_FALSE(tracks.at(15).events[3].contains("args"));  // ended by the end, not lost
    ASSERT_EQ(tracks.count(2001), 1u);
    EXPECT_EQ(tracks.at(2001).name, "trace losses");
    EXPECT_EQ(tracks.at(2001).events[0]["name"], "overflow");
}

TEST(Timeline, TextLinesAreInstantsAndPcSamplesACounter) {
    TimelineOptions options;
    options.timestampHz = 2e6;
    options.pcCounter = true;
    TimelineWriter timeline(options);
    timeline.add(test::pcSample(0x08000100), 4000);
    timeline.addTextLine(0, "boot \"ok\"", 4002);
    timeline.addTextLine(0, "late", 3000);  // an earlier time never goes back on its track
    timeline.addTextLine(1, "no time", std::nullopt);
    timeline.add(test::sleepSample(), 4010);
    timeline.noteGap();
    timeline.add(entered(15), 4020);
    timeline.noteGap();  // the open exception ends at the last time seen
    const std::map<int, Track> tracks = parseTimeline(timeline.take() + timeline.finish());
    EXPECT_EQ(timeline.untimedEvents(), 1u);

    const Track& port = tracks.at(1000);
    EXPECT_EQ(port.name, "ITM port 0");
    EXPECT_EQ(phases(port), (std::vector<std::string>{"i@1.000", "i@1.000"}));
    EXPECT_EQ(port.events[0]["name"], "boot \"ok\"");
    EXPECT_EQ(port.events[0]["s"], "t");
    EXPECT_EQ(tracks.count(1001), 0u);

    const Track& pc = tracks.at(2000);
    EXPECT_EQ(pc.name, "PC samples");
    EXPECT_EQ(phases(pc), (std::vector<std::string>{"C@0.000", "C@5.000"}));
    EXPECT_EQ(pc.events[0]["args"]["pc"], 0x08000100);
    EXPECT_EQ(pc.events[1]["args"]["pc"], 0);

    EXPECT_EQ(phases(tracks.at(15)), (std::vector<std::string>{"B@10.000", "E@10.000"}));
    EXPECT_EQ(phases(tracks.at(2001)), (std::vector<std::string>{"i@5.000", "i@10.000"}));
}

TEST(Timeline, WithoutAClockATickShowsAsAMicrosecondAndSamplesAreLeftOut) {
    TimelineWriter timeline(TimelineOptions{});
    timeline.add(test::pcSample(0x100), 10);
    timeline.add(entered(15), 10);
    timeline.add(exited(15), 35);
    const std::map<int, Track> tracks = parseTimeline(timeline.finish());
    EXPECT_EQ(tracks.count(2000), 0u);
    EXPECT_EQ(phases(tracks.at(15)), (std::vector<std::string>{"B@0.000", "E@25.000"}));
}

}  // namespace
}  // namespace dravik::profile
