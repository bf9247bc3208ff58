// Capture and doctor without --clock, run in this process through libDravikTrace.so against the
// bench. In-process because the target's cycle counter counts the bench's manual clock: only here
// can the measurement be timed against that clock (env.cycleCounterClock), so the runs are the same
// however busy the machine is. The polls and durations run in real time, as in the tool; the
// bench's exchanges take a full-speed USB round trip (1 ms + 0..1 ms), so every poll brings trace.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "ClockAccess.h"
#include "DravikBench/Bench.h"
#include "LibraryTraceInterface.h"
#include "ToolTestSupport.h"
#include "dravik/swv/RecordingReader.h"

namespace dravik::swv {
namespace {

class MeasuredClockTest : public testing::Test {
  protected:
    // Runs dravik-swv with `args` against one probe whose target has these description keys
    // besides its program: the default one, five times as fast, so that even a trial of a few
    // polls hears some KiB.
    int run(const std::string& target, std::vector<std::string> args) {
        const std::string description =
            R"({"clock": {"mode": "manual", "exchangeLatencyUs": 1000, "exchangeJitterUs": 1000},
                "probes": [{"target": {"program": {"kind": "default", "iterationsPerSecond": 5000})" +
            (target.empty() ? "" : ", " + target) + "}}]}";
        const std::string error = sim::bench().configureFromJson(description);
        EXPECT_EQ(error, "");
        out.str("");
        err.str("");
        LibraryTraceInterface api;
        SteadyClock clock;
        dravik::test::ManualBenchClock benchTime;
        ToolEnvironment env(api, out, err, clock);
        env.cycleCounterClock = &benchTime;
        return test::runToolWith(env, std::move(args));
    }

    void TearDown() override { sim::bench().reset(); }

    std::ostringstream out;
    std::ostringstream err;
    test::TempDir dir;
};

TEST_F(MeasuredClockTest, TheCoreClockIsMeasuredAndConfirmedOnTheTrace) {
    ASSERT_EQ(
        run(R"("coreClockHz": 48000000)", {"capture", "--swo-rate", "2000000", "--duration", "2"}),
        0)
        << err.str();
    const std::string text = err.str();
    // Within the measurement's reach of 48 MHz, and rounded to it.
    EXPECT_TRUE(std::regex_search(
        text,
        std::regex("^dravik-swv: target clock: measured (47\\.9[5-9]|48\\.0[0-4])[0-9] MHz \\+- "
                   "0\\.[0-9]{2} %, using 48 MHz\n")))
        << text;
    EXPECT_NE(text.find("\n"
                        "dravik-swv: SWO rate 2000000 bit/s (48000000 Hz / 24), error +0.000 %\n"
                        "dravik-swv: trace clock 48 MHz: "),
              std::string::npos)
        << text;
    test::expectBenchLines(out.str());
    EXPECT_NE(text.find(test::kNoLosses), std::string::npos) << text;
    EXPECT_NE(text.find("  health: good\n"), std::string::npos) << text;
}

TEST_F(MeasuredClockTest, ATpiuAtHalfTheCoreClockIsFoundOnTheTrace) {
    const std::string recording = dir.path("trace.rec");
    ASSERT_EQ(run(R"("coreClockHz": 72000000, "traceClockHz": 36000000)",
                  {"capture", "--swo-rate", "2000000", "--duration", "0.5", "--raw", recording}),
              0)
        << err.str();
    const std::string text = err.str();
    for (const char* line : {
             "dravik-swv: SWO rate 2000000 bit/s (72000000 Hz / 36), error +0.000 %\n"
             "dravik-swv: trace clock 72 MHz: does not decode (",
             " formed no packet)\n"
             "  they are not part of the capture\n"
             "dravik-swv: SWO rate 2000000 bit/s (36000000 Hz / 18), error +0.000 %\n"
             "dravik-swv: trace clock 36 MHz: ",
             " bytes, and they decode\n"
             "dravik-swv: using trace clock 36 MHz, the core clock / 2\n",
             "  health: good\n",
         }) {
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    }
    test::expectBenchLines(out.str());
    // The clock kept is the recording's, and the recording shows what the capture showed.
    RecordingReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(recording, false, error)) << error;
    EXPECT_EQ(reader.header().traceClockHz, 36000000u);
    EXPECT_EQ(reader.header().prescaler, 18u);
    EXPECT_EQ(reader.header().swoRateBps, 2000000u);
    const std::string live = out.str();
    ASSERT_EQ(run("", {"decode", recording}), 0) << err.str();
    EXPECT_EQ(out.str(), live);
}

TEST_F(MeasuredClockTest, AClockThatCannotBeMeasuredIsAskedFor) {
    const struct {
        const char* target;
        const char* why;
    } cases[] = {
        {R"("dwt": {"cycleCounter": false})",
         "the core has no cycle counter (DWT_CTRL.NOCYCCNT is set)"},
        {R"("scenario": {"idlesInWfi": true})",
         "the cycle counter did not count, the core is asleep (WFI/WFE)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        EXPECT_EQ(run(c.target, {"capture", "--swo-rate", "2000000", "--duration", "1"}), 1);
        EXPECT_EQ(err.str(), std::string("dravik-swv: target clock: not measured: ") + c.why +
                                 "\n  the clock could not be measured: give the clock the TPIU "
                                 "divides with --clock HZ\n");
        EXPECT_EQ(out.str(), "");
    }
}

TEST_F(MeasuredClockTest, DoctorFindsTheTraceClockAndExplainsTheSetupMadeForIt) {
    EXPECT_EQ(run(R"("traceClockHz": 36000000)", {"doctor", "--swo-rate", "2000000"}), 0)
        << out.str() << err.str();
    EXPECT_NE(err.str().find("dravik-swv: using trace clock 36 MHz, the core clock / 2\n"),
              std::string::npos)
        << err.str();
    // The kept trial's listening is the doctor's.
    EXPECT_NE(out.str().find("TPIU_ACPR  0x00000011  prescaler 18 (2000000 bit/s from 36000000 "
                             "Hz)\n"),
              std::string::npos)
        << out.str();
    EXPECT_TRUE(std::regex_search(
        out.str(), std::regex("\nnote: listened for [0-9.]+ s: [0-9]+ bytes, [0-9]+ packets, and "
                              "they decode\nnothing found that would keep trace from arriving\n$")))
        << out.str();
}

TEST_F(MeasuredClockTest, DoctorComparesAGivenClockWithTheCore) {
    EXPECT_EQ(run("", {"doctor", "--clock", "48000000", "--swo-rate", "2000000"}), 1);
    EXPECT_NE(out.str().find("warning: you gave 48 MHz; the core runs at 72.0 MHz\n"),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("problem: the trace does not decode: "), std::string::npos)
        << out.str();
}

}  // namespace
}  // namespace dravik::swv
