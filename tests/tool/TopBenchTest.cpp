// top and the exception timeline on a capture from the bench, run in this process: the tool over
// the library, a target whose PC samples follow weights given to the test firmware's functions
// and which takes two periodic exceptions. The profile must give back what the bench was told.
//
// Time is the bench's manual clock, moved by the tool's own sleeps between polls, in step with
// its decoding thread (LockstepClock): the trace captured and the time it covers are the same
// however busy the machine is.
#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <tuple>

#include "DbgDevFixture.h"
#include "DravikTrace.h"
#include "LibraryTraceInterface.h"
#include "ToolTestSupport.h"
#include "dravik/profile/SymbolTable.h"
#include "dravik/profile/WeightedRanges.h"
#include "dravik/swv/Tool.h"

namespace dravik::swv {
namespace {

using Json = nlohmann::json;

// The bench's manual clock as the tool's clock. A sleep (the draining thread's, between polls)
// advances it, but only once the decoding thread has looked at the time since the last sleep:
// the drainer cannot run ahead of the decoding by more than a chunk or so, so the queue between
// them never fills, and the capture's duration is bench time.
class LockstepClock final : public Clock {
  public:
    uint64_t nowUs() override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (std::this_thread::get_id() != sleeper_) {
            ++looks_;
            looked_.notify_all();
        }
        return now_;
    }
    void sleepUs(uint64_t us) override {
        std::unique_lock<std::mutex> lock(mutex_);
        sleeper_ = std::this_thread::get_id();
        looked_.wait(lock, [this] { return looks_ > looksAtWake_; });
        sim::bench().clock.advance(us);
        now_ = sim::bench().clock.nowUs();
        looksAtWake_ = looks_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable looked_;
    std::thread::id sleeper_;
    uint64_t looks_ = 0;
    uint64_t looksAtWake_ = 0;
    uint64_t now_ = 0;
};

std::string firmware() {
    return std::string(DRAVIK_TEST_FIRMWARE_DIR) + "/profile_target.elf";
}

// Shares of all samples: the functions', 15 % asleep, 5 % in RAM outside every function.
const std::vector<std::pair<std::string, double>> kWeights = {
    {"work_heavy", 40}, {"work_medium", 20}, {"work_light", 10}, {"checksum", 10}};
constexpr double kSleepShare = 0.15;
constexpr double kUnknownShare = 0.05;
constexpr double kCoreClockHz = 72e6;
const struct {
    unsigned number;
    uint64_t periodCycles;
    uint64_t durationCycles;
} kExceptions[] = {{15, 72000, 720}, {16, 180000, 3600}};  // 1 kHz for 10 us, 400 Hz for 50 us

// The target: the firmware's functions with the weights above, the exceptions, no
// instrumentation, on the manual clock.
std::string benchDescription() {
    profile::SymbolTable symbols;
    std::string error;
    EXPECT_TRUE(symbols.load(firmware(), error)) << error;
    std::vector<profile::WeightedRange> ranges;
    EXPECT_TRUE(profile::weightedRanges(symbols, kWeights, ranges, error)) << error;
    Json profile = {{"sleepShare", kSleepShare}, {"seed", 1}};
    for (const profile::WeightedRange& r : ranges) {
        profile["ranges"].push_back(
            {{"name", r.function}, {"start", r.start}, {"end", r.end}, {"weight", r.weight}});
    }
    profile["ranges"].push_back({{"name", "RAM"},
                                 {"start", 0x20000000},
                                 {"end", 0x20000100},
                                 {"weight", kUnknownShare * 100}});
    Json exceptions = Json::array();
    for (const auto& e : kExceptions) {
        exceptions.push_back({{"number", e.number},
                              {"periodCycles", e.periodCycles},
                              {"durationCycles", e.durationCycles}});
    }
    const Json target = {{"pcProfile", profile},
                         {"exceptions", exceptions},
                         {"program", {{"kind", "idle"}}},
                         {"recordPinBytes", false}};
    return Json{{"clock", {{"mode", "manual"}}}, {"probes", {{{"target", target}}}}}.dump();
}

struct ToolResult {
    int status = -1;
    std::string out;
    std::string err;
};

class TopBenchTest : public ::dravik::test::BenchTest {
  protected:
    void SetUp() override {
        BenchTest::SetUp();
        if (std::string(DRAVIK_TEST_FIRMWARE_DIR).empty()) {
            GTEST_SKIP() << "arm-none-eabi-gcc was not found when the build was configured";
        }
    }

    static ToolResult run(std::vector<std::string> args) {
        args.insert(args.begin(), "dravik-swv");
        std::vector<const char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(arg.c_str());
        }
        LibraryTraceInterface api;
        LockstepClock clock;
        std::ostringstream out;
        std::ostringstream err;
        ToolEnvironment env(api, out, err, clock);
        // Room for every chunk of the capture: nothing waits on the queue (see LockstepClock).
        env.queueChunks = 1u << 16;
        ToolResult result;
        result.status = runTool(env, static_cast<int>(argv.size()), argv.data());
        result.out = out.str();
        result.err = err.str();
        return result;
    }

    // About 105 000 samples (every 2048 cycles for 3 s) through an 8 Mbit/s line, recorded;
    // made once for the tests that read it.
    struct Capture {
        ToolResult top;
        std::string recording;
    };
    const Capture& capture() {
        static test::TempDir dir;
        static Capture made;
        if (made.recording.empty()) {
            EXPECT_EQ("", bench().configureFromJson(benchDescription()));
            made.recording = dir.path("profile.rec");
            made.top = run({"top", "--elf", firmware(), "--clock", "72000000", "--prescaler", "9",
                            "--pc-sampling", "35156.25", "--duration", "3", "--json", "--raw",
                            made.recording});
        }
        return made;
    }
};

TEST_F(TopBenchTest, TopGivesBackTheBenchsProfileAndExceptions) {
    const Capture& c = capture();
    ASSERT_EQ(c.top.status, 0) << c.top.err;
    const std::string lastLine = c.top.out.substr(c.top.out.rfind('\n', c.top.out.size() - 2) + 1);
    const Json run = Json::parse(lastLine);
    ASSERT_EQ(run["scope"], "run");
    EXPECT_GE(run["samples"].get<uint64_t>(), 100000u);
    EXPECT_EQ(run["overflows"], 0);
    EXPECT_EQ(run["gaps"], 0);
    std::map<std::string, double> shares;
    for (const Json& f : run["functions"]) {
        shares[f["name"]] = f["share"];
    }
    for (const auto& [name, weight] : kWeights) {
        EXPECT_NEAR(shares[name], weight / 100, 0.02) << name;
    }
    EXPECT_EQ(shares.size(), kWeights.size());
    EXPECT_NEAR(run["sleep_share"].get<double>(), kSleepShare, 0.02);
    EXPECT_NEAR(run["unknown_share"].get<double>(), kUnknownShare, 0.02);
    EXPECT_GT(run["unknown_samples"].get<uint64_t>(), 0u);

    ASSERT_EQ(run["exceptions"].size(), 2u) << run["exceptions"].dump();
    for (size_t i = 0; i < 2; ++i) {
        const Json& got = run["exceptions"][i];
        SCOPED_TRACE(got.dump());
        const double perSecond = kCoreClockHz / kExceptions[i].periodCycles;
        const double seconds = kExceptions[i].durationCycles / kCoreClockHz;
        EXPECT_EQ(got["number"], kExceptions[i].number);
        EXPECT_NEAR(got["per_second"].get<double>(), perSecond, 0.05 * perSecond);
        EXPECT_NEAR(got["mean_seconds"].get<double>(), seconds, 0.05 * seconds);
        EXPECT_NEAR(got["max_seconds"].get<double>(), seconds, 0.05 * seconds);
    }
}

TEST_F(TopBenchTest, TheTimelineOfTheCaptureOpensWithEveryPairInTimeOrder) {
    const Capture& c = capture();
    ASSERT_EQ(c.top.status, 0) << c.top.err;
    const ToolResult decoded = run({"decode", c.recording, "--format", "chrome-trace"});
    ASSERT_EQ(decoded.status, 0) << decoded.err;
    EXPECT_EQ(decoded.err, "");
    const Json events = Json::parse(decoded.out);
    std::map<int, double> lastTime;
    std::map<int, std::optional<double>> open;     // by track: the time of the begin not yet ended
    std::map<int, std::vector<double>> durations;  // by track, in microseconds
    for (const Json& e : events) {
        const std::string phase = e["ph"];
        if (phase == "M") {
            continue;
        }
        const int track = e["tid"];
        const double ts = e["ts"];
        EXPECT_GE(ts, lastTime[track]) << e.dump();
        lastTime[track] = ts;
        if (phase == "B") {
            EXPECT_FALSE(open[track].has_value()) << e.dump();
            open[track] = ts;
        } else if (phase == "E") {
            ASSERT_TRUE(open[track].has_value()) << e.dump();
            durations[track].push_back(ts - *open[track]);
            open[track].reset();
        }
    }
    for (const auto& [track, begin] : open) {
        EXPECT_FALSE(begin.has_value()) << "track " << track;
    }
    // 3 s at 1 kHz for 10 us, and at 400 Hz for 50 us. The last one may have been cut by the end
    // of the capture.
    for (const auto& [track, count, us] : {std::tuple{15, 3000.0, 10.0}, {16, 1200.0, 50.0}}) {
        std::vector<double>& times = durations[track];
        EXPECT_NEAR(static_cast<double>(times.size()), count, 0.05 * count) << track;
        if (!times.empty()) {
            times.pop_back();
        }
        for (const double time : times) {
            ASSERT_NEAR(time, us, 0.05 * us) << "track " << track;
        }
    }
}

}  // namespace
}  // namespace dravik::swv
