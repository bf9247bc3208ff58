// Profiling through the command line, against a scripted library: the DWT setup of capture and
// top, top's reports from a scripted stream (live and from its recording), and the exception
// timeline of decode --format chrome-trace.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "ToolTestSupport.h"
#include "dravik/profile/SymbolTable.h"
#include "dravik/swv/Tool.h"

namespace dravik::swv {
namespace {

using test::Bytes;
using test::FakeClock;
using test::FakeTraceInterface;
using test::ItmStream;
using test::SwvPoll;
using test::TempDir;
using Json = nlohmann::json;

constexpr uint32_t kDwtCtrl = 0xE0001000;
constexpr uint32_t kItmTcr = 0xE0000E80;
// DWT_CTRL of a Cortex-M4 after power-on (NUMCOMP 4), ITM_TCR after DravikSetupDevice (ITMENA,
// trace bus ID 1).
constexpr uint32_t kDwtCtrlReset = 0x40000000;
constexpr uint32_t kItmTcrAfterSetup = 0x00010001;
constexpr unsigned kEntered = 1, kExited = 2, kReturned = 3;

std::string firmware(const char* name = "profile_target.elf") {
    return std::string(DRAVIK_TEST_FIRMWARE_DIR) + "/" + name;
}

#define NEEDS_FIRMWARE()                                                                     \
    do {                                                                                     \
        if (std::string(DRAVIK_TEST_FIRMWARE_DIR).empty()) {                                 \
            GTEST_SKIP() << "arm-none-eabi-gcc was not found when the build was configured"; \
        }                                                                                    \
    } while (false)

class ProfileCommandsTest : public testing::Test {
  protected:
    // A fresh probe: also between the cases of a table.
    void SetUp() override {
        api = std::make_unique<FakeTraceInterface>();
        api->registers[kDwtCtrl] = kDwtCtrlReset;
        api->registers[kItmTcr] = kItmTcrAfterSetup;
    }

    int run(std::vector<std::string> args) {
        args.insert(args.begin(), "dravik-swv");
        std::vector<const char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(arg.c_str());
        }
        out.str("");
        err.str("");
        ToolEnvironment env(*api, out, err, clock);
        env.outIsTerminal = terminal;
        env.errIsTerminal = terminal;
        env.terminalSize = [](unsigned& columns, unsigned& rows) {
            columns = 80;
            rows = 24;
            return true;
        };
        env.screenActive = &screenActive;
        return runTool(env, static_cast<int>(argv.size()), argv.data());
    }

    // The register writes between the trace setup and letting the core run.
    std::vector<std::string> setupWrites() const {
        std::vector<std::string> writes;
        bool inSetup = false;
        for (const std::string& call : api->calls()) {
            inSetup = (inSetup || call.rfind("DravikSetupDevice", 0) == 0) &&
                      call.rfind("DravikRunDevice", 0) != 0;
            if (inSetup && call.rfind("WriteDebugRegister", 0) == 0) {
                writes.push_back(call);
            }
        }
        return writes;
    }

    // Ten polls of twelve samples (6 in work_heavy, 3 in work_medium, 1 outside every function,
    // 2 asleep) and one SysTick of 720 ticks, each packet timestamped.
    void scriptProfile() {
        profile::SymbolTable symbols;
        std::string error;
        ASSERT_TRUE(symbols.load(firmware(), error)) << error;
        const uint32_t heavy = symbols.find("work_heavy")->address;
        const uint32_t medium = symbols.find("work_medium")->address;
        for (int poll = 0; poll < 10; ++poll) {
            ItmStream s;
            for (int i = 0; i < 6; ++i) {
                s.pcSample(heavy + 2 * static_cast<uint32_t>(i)).localTimestamp(100);
            }
            for (int i = 0; i < 3; ++i) {
                s.pcSample(medium + 8).localTimestamp(100);
            }
            s.pcSample(0x20000000).localTimestamp(100);
            s.sleepSample().localTimestamp(100).sleepSample().localTimestamp(100);
            s.exception(15, kEntered).localTimestamp(50);
            s.exception(15, kExited).localTimestamp(720);
            s.exception(0, kReturned).localTimestamp(5);
            api->polls.push_back(SwvPoll{0, s.bytes()});
        }
    }

    std::vector<Json> jsonLines() const {
        std::vector<Json> lines;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);) {
            lines.push_back(Json::parse(line));
        }
        return lines;
    }

    std::unique_ptr<FakeTraceInterface> api;
    FakeClock clock;
    std::ostringstream out;
    std::ostringstream err;
    bool terminal = false;
    std::atomic<bool> screenActive{false};
    TempDir dir;
};

const std::vector<std::string> kTopLive = {"--clock", "72000000",   "--swo-rate",
                                           "2000000", "--duration", "1"};

std::vector<std::string> topLive(std::vector<std::string> extra) {
    std::vector<std::string> args = {"top", "--elf", firmware()};
    args.insert(args.end(), kTopLive.begin(), kTopLive.end());
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

// --- the DWT setup ---

TEST_F(ProfileCommandsTest, TheDwtIsSetUpForTheRateAtTheClock) {
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> writes;  // after the synchronisation tap's
        const char* said;
    } cases[] = {
        {{"--clock", "72000000", "--prescaler", "36", "--pc-sampling", "10000",
          "--exception-trace"},
         {"WriteDebugRegister(0xE0001000, 0x400006CD)",
          "WriteDebugRegister(0xE0001000, 0x400116CD)",
          "WriteDebugRegister(0xE0000E80, 0x0001000D)"},
         "dravik-swv: PC sampling 10044.643 samples/s (every 7168 cycles at 72000000 Hz: CYCTAP 1, "
         "POSTPRESET 6), 10000 requested, +0.446 %\n"
         "dravik-swv: PC samples take about 50.2 kB/s of the line's 200.0 kB/s (25.1 %)\n"},
        {{"--clock", "48000000", "--prescaler", "4", "--pc-sampling", "100000", "--timestamps"},
         {"WriteDebugRegister(0xE0001000, 0x400004EF)",
          "WriteDebugRegister(0xE0001000, 0x400014EF)",
          "WriteDebugRegister(0xE0000E80, 0x0001000F)"},
         "dravik-swv: PC sampling 93750 samples/s (every 512 cycles at 48000000 Hz: CYCTAP 0, "
         "POSTPRESET 7), 100000 requested, -6.250 %\n"
         "dravik-swv: warning: PC samples take about 750.0 kB/s of the line's 1200.0 kB/s "
         "(62.5 %): other trace may overflow the line; a lower --pc-sampling or a faster "
         "--swo-rate leaves room\n"},
        {{"--clock", "16000000", "--prescaler", "8", "--pc-sampling", "1000", "--exception-trace"},
         {"WriteDebugRegister(0xE0001000, 0x400007FF)",
          "WriteDebugRegister(0xE0001000, 0x400117FF)",
          "WriteDebugRegister(0xE0000E80, 0x0001000D)"},
         "dravik-swv: PC sampling 976.562 samples/s (every 16384 cycles at 16000000 Hz: CYCTAP 1, "
         "POSTPRESET 15), 1000 requested, -2.344 %\n"},
        {{"--clock", "72000000", "--prescaler", "36", "--exception-trace"},
         {"WriteDebugRegister(0xE0001000, 0x40010401)",
          "WriteDebugRegister(0xE0000E80, 0x0001000D)"},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1] + " " + (c.args.size() > 5 ? c.args[5] : c.args[4]));
        SetUp();
        std::vector<std::string> args = {"capture", "--duration", "0.01", "-q"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ASSERT_EQ(run(args), 0) << err.str();
        std::vector<std::string> expected = {
            "WriteDebugRegister(0xE0001000, 0x40000401)",  // CYCCNTENA, SYNCTAP 1
            c.args.back() == "--timestamps" ? "WriteDebugRegister(0xE0000E80, 0x00010007)"
                                            : "WriteDebugRegister(0xE0000E80, 0x00010005)"};
        expected.insert(expected.end(), c.writes.begin(), c.writes.end());
        EXPECT_EQ(setupWrites(), expected);
        EXPECT_NE(err.str().find(c.said), std::string::npos) << err.str();
    }
}

TEST_F(ProfileCommandsTest, ARateTheDwtOrTheLineCannotMakeIsRefusedBeforeTheProbe) {
    const struct {
        std::vector<std::string> args;
        const char* said;
    } cases[] = {
        {{"--clock", "72000000", "--swo-rate", "2000000", "--pc-sampling", "2000000"},
         "dravik-swv: --pc-sampling: PC sampling at 72000000 Hz runs at 4394.531 to 1125000 "
         "samples/s; 2000000 requested\n"},
        {{"--clock", "72000000", "--swo-rate", "2000000", "--pc-sampling", "100"},
         "dravik-swv: --pc-sampling: PC sampling at 72000000 Hz runs at 4394.531 to 1125000 "
         "samples/s; 100 requested\n"},
        {{"--clock", "72000000", "--swo-rate", "2000000", "--pc-sampling", "100000"},
         "dravik-swv: PC samples would take about 511.4 kB/s of the line's 200.0 kB/s (255.7 %): "
         "more than the SWO line carries; choose a lower --pc-sampling or a faster --swo-rate\n"},
        {{"--clock", "72000000", "--swo-rate", "2000000", "--pc-sampling", "fast"},
         "dravik-swv capture: --pc-sampling: 'fast' is not a number of samples per second above "
         "0\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        std::vector<std::string> args = {"capture"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(run(args), kExitUsage);
        EXPECT_NE(err.str().find(c.said), std::string::npos) << err.str();
        EXPECT_TRUE(api->calls().empty());
    }
}

TEST_F(ProfileCommandsTest, ADwtThatCannotDoItEndsTheCapture) {
    const struct {
        const char* name;
        uint32_t dwtCtrl;
        bool writesIgnored;
        const char* said;
    } cases[] = {
        {"no trace packets", 0x48000000, false,
         "dravik-swv: the DWT cannot send trace packets (DWT_CTRL.NOTRCPKT is set)\n"},
        {"no cycle counter", 0x42000000, false,
         "dravik-swv: the DWT has no cycle counter to sample the PC with (DWT_CTRL.NOCYCCNT is "
         "set)\n"},
        {"writes do not take", kDwtCtrlReset, true,
         "dravik-swv: DWT_CTRL did not take 0x400002CD (it reads 0x40000000)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        api->registers[kDwtCtrl] = c.dwtCtrl;
        api->ignoreRegisterWrites = c.writesIgnored;
        EXPECT_EQ(run({"capture", "--clock", "72000000", "--prescaler", "36", "--pc-sampling",
                       "10000", "--duration", "0.01", "-q"}),
                  kExitFailure);
        EXPECT_NE(err.str().find(c.said), std::string::npos) << err.str();
        EXPECT_EQ(api->countCalls("DravikRunDevice"), 0u);
        EXPECT_TRUE(api->closed());
    }
}

// --- top ---

TEST_F(ProfileCommandsTest, TopRefusesWhatItCannotUseBeforeTheProbe) {
    NEEDS_FIRMWARE();
    const std::string text = dir.path("notes.txt");
    test::writeBytes(text, Bytes{'h', 'i', '\n'});
    const struct {
        std::vector<std::string> args;
        std::string said;
    } cases[] = {
        {{"top", "--elf", text, "--clock", "72000000", "--swo-rate", "2000000"},
         "dravik-swv top: --elf: " + text + " is not an ELF file\n"},
        {{"top", "--elf", DRAVIK_SWV_BINARY, "--clock", "72000000", "--swo-rate", "2000000"},
         std::string("dravik-swv top: --elf: ") + DRAVIK_SWV_BINARY +
             " is an ELF file for x86-64, not for Arm\n"},
        {{"top", "--elf", dir.path("none.elf"), "--clock", "72000000", "--swo-rate", "2000000"},
         "dravik-swv top: --elf: cannot open " + dir.path("none.elf") +
             ": No such file or directory\n"},
        {{"top", "--elf", firmware("profile_target-nolines.elf"), "--lines", "--clock", "72000000",
          "--swo-rate", "2000000"},
         "dravik-swv top: --lines: " + firmware("profile_target-nolines.elf") +
             " has no line information (build it with -g)\n"},
        {{"top", "--elf", firmware(), "--clock", "72000000", "--swo-rate", "2000000", "--interval",
          "0"},
         "dravik-swv top: --interval: '0' is not a duration in seconds above 0\n"},
        {{"top", "--elf", firmware(), "trace.rec", "--swo-rate", "2000000"},
         "dravik-swv top: --swo-rate is for a live capture, not for a recording\n"},
        {{"decode", "trace.rec", "--format", "chrome-trace", "--realtime"},
         "dravik-swv decode: --realtime does not go with --format chrome-trace\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.said);
        EXPECT_EQ(run(c.args), kExitUsage);
        EXPECT_EQ(err.str().rfind(c.said, 0), 0u) << err.str();
        EXPECT_TRUE(api->calls().empty());
    }
}

TEST_F(ProfileCommandsTest, TopReportsEveryIntervalAndTheRunAsJson) {
    NEEDS_FIRMWARE();
    scriptProfile();
    ASSERT_EQ(run(topLive({"--json", "--interval", "0.1"})), 0) << err.str();
    const std::vector<Json> reports = jsonLines();
    ASSERT_GE(reports.size(), 2u) << out.str();
    // Every interval's samples, and none twice: the run is their sum.
    uint64_t samples = 0;
    for (size_t i = 0; i + 1 < reports.size(); ++i) {
        EXPECT_EQ(reports[i]["scope"], "interval");
        EXPECT_EQ(reports[i]["interval"], i + 1);
        samples += reports[i]["samples"].get<uint64_t>();
    }
    const Json& run = reports.back();
    EXPECT_EQ(run["scope"], "run");
    EXPECT_EQ(run["samples"], 120);
    EXPECT_EQ(samples, 120u);
    EXPECT_EQ(run["sleep_samples"], 20);
    EXPECT_EQ(run["unknown_samples"], 10);
    ASSERT_EQ(run["functions"].size(), 2u);
    EXPECT_EQ(run["functions"][0]["name"], "work_heavy");
    EXPECT_EQ(run["functions"][0]["samples"], 60);
    EXPECT_DOUBLE_EQ(run["functions"][0]["share"].get<double>(), 0.5);
    EXPECT_EQ(run["functions"][1]["name"], "work_medium");
    EXPECT_EQ(run["functions"][1]["samples"], 30);
    ASSERT_EQ(run["exceptions"].size(), 1u);
    const Json& sysTick = run["exceptions"][0];
    EXPECT_EQ(sysTick["name"], "SysTick");
    EXPECT_EQ(sysTick["count"], 10);
    EXPECT_EQ(sysTick["timed"], 10);
    EXPECT_DOUBLE_EQ(sysTick["mean_seconds"].get<double>(), 720 / 72e6);
    // Top turns on the DWT's packets and the timestamps their times need.
    EXPECT_NE(err.str().find("dravik-swv: PC sampling 5859.375 samples/s (every 12288 cycles at "
                             "72000000 Hz: CYCTAP 1, POSTPRESET 11): the default, lowered to keep "
                             "within a quarter of the line\n"),
              std::string::npos)
        << err.str();
    EXPECT_NE(api->countCalls("WriteDebugRegister(0xE0000E80, 0x0001000F)"), 0u);
}

TEST_F(ProfileCommandsTest, TopPrintsATablePerIntervalOnAPipeAndTheRunLast) {
    NEEDS_FIRMWARE();
    scriptProfile();
    ASSERT_EQ(run(topLive({})), 0) << err.str();
    const std::string text = out.str();
    const size_t run = text.find("whole run, ");
    ASSERT_NE(run, std::string::npos) << text;
    EXPECT_EQ(text.rfind("interval 1, ", 0), 0u) << text;
    // The scripted clock runs ahead of the tool, so the rates are not checked here.
    EXPECT_TRUE(std::regex_search(
        text.substr(run),
        std::regex(R"(^whole run, \d+ intervals?, [0-9.]+ s: 120 PC samples \(\d+/s\), 16\.7 % )"
                   R"(sleeping, 8\.3 % unknown\n\n)"
                   R"(  SHARE     SAMPLES  FUNCTION\n)"
                   R"( 50\.0 %          60  work_heavy\n)"
                   R"( 25\.0 %          30  work_medium\n)"
                   R"(  8\.3 %          10  unknown\n\n)"
                   R"(  EXC  NAME               COUNT      RATE/s        MEAN         MAX\n)"
                   R"(   15  SysTick               10 +[0-9.]+    10\.00 us    10\.00 us\n\n$)")))
        << text.substr(run);
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
}

TEST_F(ProfileCommandsTest, ARecordingProfilesAsTheLiveCaptureDid) {
    NEEDS_FIRMWARE();
    scriptProfile();
    const std::string recording = dir.path("profile.rec");
    ASSERT_EQ(run(topLive({"--json", "--raw", recording})), 0) << err.str();
    Json live = jsonLines().back();
    ASSERT_EQ(run({"top", "--elf", firmware(), "--json", recording}), 0) << err.str();
    Json replayed = jsonLines().back();
    EXPECT_EQ(err.str(), "");
    // The counts; not the times, which run from the last report to the stop live but to the last
    // data in a recording.
    for (Json* report : {&live, &replayed}) {
        for (const char* time : {"intervals", "seconds"}) {
            report->erase(time);
        }
        for (Json& exception : (*report)["exceptions"]) {
            exception.erase("per_second");
        }
    }
    EXPECT_EQ(replayed, live);
}

TEST_F(ProfileCommandsTest, OnATerminalTopRedrawsInPlaceAndGivesTheScreenBack) {
    NEEDS_FIRMWARE();
    scriptProfile();
    terminal = true;
    ASSERT_EQ(run(topLive({"--interval", "0.1"})), 0) << err.str();
    const std::string screen = out.str();
    const std::string take = "\x1b[?1049h\x1b[?25l";
    const std::string giveBack = "\x1b[?25h\x1b[?1049l";
    EXPECT_EQ(screen.rfind(take, 0), 0u);
    const size_t back = screen.find(giveBack);
    ASSERT_NE(back, std::string::npos);
    EXPECT_NE(screen.find("\x1b[Hinterval 1, "), std::string::npos);
    // After it, the run as a plain table where the terminal's own screen was.
    EXPECT_EQ(screen.find("whole run, ", back), back + giveBack.size());
    EXPECT_EQ(screen.find('\x1b', back + giveBack.size()), std::string::npos);
    EXPECT_FALSE(screenActive.load());
    // The capture's messages waited for the screen and came after; no status line.
    EXPECT_NE(err.str().find("captured "), std::string::npos) << err.str();
    EXPECT_EQ(err.str().find('\r'), std::string::npos);
}

// --- the exception timeline ---

TEST_F(ProfileCommandsTest, TheTimelinePairsEveryEntryWithItsExitInTimeOrder) {
    // SysTick preempting IRQ0, tail-chaining into PendSV, console lines on port 0, a counter
    // on port 1 (not text) and PC samples.
    ItmStream s;
    for (int round = 0; round < 3; ++round) {
        s.text(0, "tick " + std::to_string(round) + "\n").localTimestamp(10);
        s.write(1, 4, 7).localTimestamp(10);
        s.pcSample(0x08000060).localTimestamp(30);
        s.exception(16, kEntered).localTimestamp(100);
        s.exception(15, kEntered).localTimestamp(40);
        s.exception(15, kExited).localTimestamp(720);
        s.exception(16, kReturned).localTimestamp(2);
        s.exception(16, kExited).localTimestamp(300);
        s.exception(14, kEntered).localTimestamp(3);
        s.exception(14, kExited).localTimestamp(200);
        s.exception(0, kReturned).localTimestamp(2);
        s.sleepSample().localTimestamp(500);
    }
    api->polls = {SwvPoll{0, s.bytes()}};
    const std::string recording = dir.path("timeline.rec");
    ASSERT_EQ(run({"capture", "--clock", "72000000", "--swo-rate", "2000000", "--duration", "0.1",
                   "--timestamps", "--exception-trace", "-q", "--raw", recording}),
              0)
        << err.str();
    ASSERT_EQ(run({"decode", recording, "--format", "chrome-trace", "--pc-counter"}), 0)
        << err.str();
    EXPECT_EQ(err.str(), "");
    const Json events = Json::parse(out.str());
    ASSERT_TRUE(events.is_array());
    std::map<int, std::vector<std::string>> phases;  // by track
    std::map<int, double> lastTime;
    std::map<int, std::string> trackNames;
    std::vector<std::string> lines;
    size_t counters = 0;
    for (const Json& e : events) {
        const int track = e["tid"].get<int>();
        const std::string phase = e["ph"];
        if (phase == "M") {
            if (e["name"] == "thread_name") {
                trackNames[track] = e["args"]["name"];
            }
            continue;
        }
        const double ts = e["ts"].get<double>();
        EXPECT_GE(ts, lastTime[track]) << e.dump();
        lastTime[track] = ts;
        if (phase == "B" || phase == "E") {
            phases[track].push_back(phase);
        } else if (phase == "i" && trackNames[track] == "ITM port 0") {
            lines.push_back(e["name"]);
        } else if (phase == "C") {
            ++counters;
        }
    }
    for (int track : {14, 15, 16}) {
        const std::vector<std::string> pairs = {"B", "E", "B", "E", "B", "E"};
        EXPECT_EQ(phases[track], pairs) << trackNames[track];
    }
    EXPECT_EQ(trackNames[15], "SysTick");
    EXPECT_EQ(trackNames[16], "IRQ0");
    EXPECT_EQ(lines, (std::vector<std::string>{"tick 0", "tick 1", "tick 2"}));
    EXPECT_EQ(counters, 6u);
    // IRQ0 from its entry to its exit, SysTick's 720 ticks included: 1062 ticks at 72 MHz.
    double begin = 0, duration = 0;
    for (const Json& e : events) {
        if (e["tid"] == 16 && e["ph"] == "B" && begin == 0) {
            begin = e["ts"].get<double>();
        } else if (e["tid"] == 16 && e["ph"] == "E" && duration == 0) {
            duration = e["ts"].get<double>() - begin;
        }
    }
    EXPECT_NEAR(duration, 1062 / 72.0, 1e-3);
}

TEST_F(ProfileCommandsTest, ATimelineWithoutTimestampsSaysWhyItIsEmpty) {
    ItmStream s;
    s.exception(15, kEntered).exception(15, kExited).exception(0, kReturned);
    const std::string dump = dir.path("dump.bin");
    test::writeBytes(dump, s.bytes());
    ASSERT_EQ(run({"decode", dump, "--format", "chrome-trace"}), 0) << err.str();
    EXPECT_TRUE(Json::parse(out.str()).is_array());
    EXPECT_EQ(err.str(),
              "dravik-swv: 1 event had no target time and is left out: the trace has no local "
              "timestamps (capture with --timestamps)\n");
}

}  // namespace
}  // namespace dravik::swv
