// The subcommands run in-process through the command line, against a scripted library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sstream>

#include "DravikTrace.h"
#include "ToolTestSupport.h"
#include "dravik/clock/TargetRegisters.h"
#include "dravik/swv/RecordingReader.h"
#include "dravik/swv/RecordingWriter.h"
#include "dravik/swv/StatusLine.h"
#include "dravik/swv/Tool.h"
#include "dravik/swv/TraceRegisterMap.h"

namespace dravik::swv {
namespace {

using test::Bytes;
using test::FakeClock;
using test::FakeTraceInterface;
using test::ItmStream;
using test::occurrences;
using test::SwvPoll;
using test::TempDir;

class CommandsTest : public testing::Test {
  protected:
    // The target's cycle counter counts `coreHz` on the scripted clock.
    CommandsTest() {
        api.cycleCounter = [this] {
            return static_cast<uint32_t>(clock.nowUs() * coreHz / 1000000);
        };
    }

    int run(std::vector<std::string> args) {
        out.str("");
        err.str("");
        ToolEnvironment env(api, mainOut != nullptr ? *mainOut : out, err, clock);
        env.queueChunks = queueChunks;
        // A real-time drainer on the scripted clock (whose sleeps only yield) would keep a core.
        env.raiseDrainPriority = raiseDrainPriority;
        env.stopRequests = &stopRequests;
        env.errIsTerminal = errIsTerminal;
        env.outIsTerminal = outIsTerminal;
        env.outputGone = outputGone;
        env.noColorSet = noColorSet;
        if (columns != 0) {
            env.terminalColumns = [this] { return columns; };
        }
        return test::runToolWith(env, std::move(args));
    }

    // The calls that reached the probe side, without the copy-out calls and polls.
    std::vector<std::string> probeCalls() const {
        std::vector<std::string> calls;
        for (const std::string& call : api.calls()) {
            if (call.rfind("DravikLast", 0) != 0 && call.rfind("DravikReadSWVData", 0) != 0 &&
                call.rfind("SetLogSink", 0) != 0) {
                calls.push_back(call);
            }
        }
        return calls;
    }

    std::vector<std::string> benchCapture(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"capture", "--clock",    "72000000", "--swo-rate",
                                         "2000000", "--duration", "1"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    FakeTraceInterface api;
    FakeClock clock;
    uint64_t coreHz = 72000000;
    std::ostringstream out;
    std::ostringstream err;
    std::atomic<int> stopRequests{0};
    size_t queueChunks = 64;
    bool raiseDrainPriority = false;
    bool errIsTerminal = false;
    bool outIsTerminal = false;
    bool noColorSet = false;
    unsigned columns = 0;             // of the terminal; 0: not known
    std::ostream* mainOut = nullptr;  // instead of `out`
    std::function<bool()> outputGone;
    TempDir dir;
};

Bytes benchTrace(unsigned from, unsigned to) {
    ItmStream stream;
    for (unsigned n = from; n <= to; ++n) {
        stream.text(0, "line " + std::to_string(n) + "\n").write(1, 4, n);
    }
    return stream.bytes();
}

// What a UART at the wrong rate reads: bytes without pattern (xorshift, so every run alike).
Bytes garbage(size_t size) {
    Bytes bytes(size);
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (uint8_t& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<uint8_t>(state >> 56);
    }
    return bytes;
}

// --- list ---

TEST_F(CommandsTest, ListShowsEachProbe) {
    api.listing = "DRAVIK-BENCH-0001\t769\t55200\nDRAVIK-BENCH-0002\t770\t55200\n";
    EXPECT_EQ(run({"list"}), 0);
    EXPECT_EQ(out.str(), "DRAVIK-BENCH-0001  0x0301  0xd7a0\nDRAVIK-BENCH-0002  0x0302  0xd7a0\n");
    EXPECT_EQ(run({"list", "--json"}), 0);
    EXPECT_EQ(out.str(),
              "[{\"serial\":\"DRAVIK-BENCH-0001\",\"ids\":[769,55200]},"
              "{\"serial\":\"DRAVIK-BENCH-0002\",\"ids\":[770,55200]}]\n");
    EXPECT_TRUE(api.closed());
}

TEST_F(CommandsTest, ListWithoutAProbeSaysSoAndFails) {
    api.enumerateResult = DRAVIK_ENUMERATION_FAILED;
    api.enumerateError = "Unable to enumerate, status: 26\n";
    EXPECT_EQ(run({"list"}), kExitFailure);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "dravik-swv: no probe found\n");
}

TEST_F(CommandsTest, ListReportsAnyOtherEnumerationFailureInFull) {
    api.enumerateResult = DRAVIK_ENUMERATION_FAILED;
    api.enumerateError = "Unable to enumerate, status: 28\n";
    EXPECT_EQ(run({"list"}), kExitFailure);
    EXPECT_EQ(err.str(),
              "dravik-swv: DravikEnumerateDevices failed with result 10\n"
              "  step: DravikEnumerateDevices - Called\n"
              "  error: Unable to enumerate, status: 28\n");
}

TEST_F(CommandsTest, ListMentionsProbesLeftOut) {
    api.enumerateResult = -1;
    api.enumerateWarning = "Retrieved device resulting in too long device string, ignoring";
    EXPECT_EQ(run({"list"}), 0);
    EXPECT_EQ(out.str(), "DRAVIK-BENCH-0001  0x0301  0xd7a0\n");
    EXPECT_EQ(err.str(),
              "dravik-swv: 1 probe(s) left out of the listing: Retrieved device resulting in too "
              "long device string, ignoring\n");
}

TEST_F(CommandsTest, AMissingEntryPointIsNamedBeforeAnythingIsCalled) {
    api.missing = {EntryPoint::SelectDevice};
    EXPECT_EQ(run(benchCapture()), kExitFailure);
    EXPECT_NE(err.str().find("dravik-swv: libDravikTrace.so has no DravikSelectDevice; it is "
                             "older than this tool\n"),
              std::string::npos);
    EXPECT_TRUE(probeCalls().empty());
}

// --- capture ---

TEST_F(CommandsTest, CaptureRunsTheWholeSequenceAndDecodes) {
    const Bytes trace = benchTrace(1, 3);
    api.polls = {SwvPoll{0, Bytes(trace.begin(), trace.begin() + 20)},
                 SwvPoll{0, Bytes(trace.begin() + 20, trace.end())}};
    EXPECT_EQ(run(benchCapture({"--ports", "0x3"})), 0) << err.str();
    EXPECT_EQ(out.str(),
              "[0] line 1\n[1] 0x00000001\n[0] line 2\n[1] 0x00000002\n[0] line 3\n"
              "[1] 0x00000003\n");
    const std::vector<std::string> expected = {
        "DravikEnumerateDevices()", "DravikSelectDevice(DRAVIK-BENCH-0001, 4)",
        "DravikSetupDevice(72000000, 36, 0x00000003, 1)",
        // Synchronisation: the DWT's tap, then the ITM.
        "ReadDebugRegister(0xE0001000)", "WriteDebugRegister(0xE0001000, 0x00000401)",
        "ReadDebugRegister(0xE0001000)", "ReadDebugRegister(0xE0000E80)",
        "WriteDebugRegister(0xE0000E80, 0x00000004)", "ReadDebugRegister(0xE0000E80)",
        "ReadDebugRegister(0xE00400F0)", "DravikRunDevice()", "DravikStopSWVRead()",
        "DravikCloseDevice()"};
    EXPECT_EQ(probeCalls(), expected);
    const std::string summary = err.str();
    EXPECT_EQ(
        summary.find("dravik-swv: SWO rate 2000000 bit/s (72000000 Hz / 36), error +0.000 %\n"), 0u)
        << summary;
    EXPECT_NE(summary.find("captured " + std::to_string(trace.size()) + " bytes in "),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find("  port 0: 9 packets\n  port 1: 3 packets\n  losses: overflows 0, "
                           "decode errors 0 B, host drops 0, read failures 0, queue drops 0 B\n"),
              std::string::npos)
        << summary;
}

TEST_F(CommandsTest, CaptureSelectionFlags) {
    EXPECT_EQ(run(benchCapture({"--serial", "XYZ", "--reset", "--allow-old-probe", "--prescaler"})),
              kExitUsage);
    EXPECT_EQ(
        run({"capture", "--clock", "72000000", "--prescaler", "37", "--duration", "0.1", "--serial",
             "XYZ", "--reset", "--allow-old-probe", "--mode", "auto", "--ports", "0x1"}),
        0)
        << err.str();
    const std::vector<std::string> calls = probeCalls();
    ASSERT_GE(calls.size(), 2u);
    // No listing with a serial number given; strict, reset and old probes allowed.
    EXPECT_EQ(calls[0], "DravikSelectDevice(XYZ, 7)");
    EXPECT_EQ(calls[1], "DravikSetupDevice(72000000, 37, 0x00000001, 3)");
    EXPECT_NE(err.str().find("dravik-swv: SWO rate 1945945.946 bit/s (72000000 Hz / 37)\n"),
              std::string::npos);
}

TEST_F(CommandsTest, CaptureRefusesARateTooFarOffUnlessForced) {
    EXPECT_EQ(run({"capture", "--clock", "72000000", "--swo-rate", "30000000"}), kExitUsage);
    EXPECT_EQ(err.str(),
              "dravik-swv: no prescaler gives 30000000 bit/s from 72000000 Hz within 3 %: the "
              "closest is 24000000 bit/s (72000000 Hz / 3), error -20.000 %; use --force to "
              "accept it\n");
    EXPECT_TRUE(api.calls().empty());
    EXPECT_EQ(run({"capture", "--clock", "72000000", "--swo-rate", "30000000", "--force",
                   "--duration", "0.1"}),
              0);
    EXPECT_EQ(api.countCalls("DravikSetupDevice(72000000, 3,"), 1u);
}

TEST_F(CommandsTest, WithoutAClockTheCaptureMeasuresItAndKeepsTheTrialsBytes) {
    const std::string recording = dir.path("trace.rec");
    const Bytes trace = benchTrace(1, 40);
    api.polls = {SwvPoll{0, Bytes(trace.begin(), trace.begin() + 300)},
                 SwvPoll{0, Bytes(trace.begin() + 300, trace.end())}};
    ASSERT_EQ(run({"capture", "--swo-rate", "2000000", "--duration", "1", "--ports", "0x3", "--raw",
                   recording}),
              0)
        << err.str();
    // The trial heard it all: the capture shows it and records it.
    std::string lines;
    for (unsigned n = 1; n <= 40; ++n) {
        char counter[16];
        std::snprintf(counter, sizeof counter, "0x%08x", n);
        lines += "[0] line " + std::to_string(n) + "\n[1] " + counter + "\n";
    }
    EXPECT_EQ(out.str(), lines);
    EXPECT_EQ(
        err.str().find("dravik-swv: target clock: measured 72.000 MHz +- 0.01 %, using 72 MHz\n"
                       "dravik-swv: SWO rate 2000000 bit/s (72000000 Hz / 36), error +0.000 %\n"
                       "dravik-swv: trace clock 72 MHz: " +
                       std::to_string(trace.size()) +
                       " bytes, and they decode\n"
                       "captured " +
                       std::to_string(trace.size()) + " bytes in "),
        0u)
        << err.str();
    // The core runs to be measured, then halts while the trace is set up for what was found, so
    // that the receiver starts on an idle line, and runs on.
    std::vector<std::string> steps;
    for (const std::string& call : probeCalls()) {
        const bool step = call.rfind("Dravik", 0) == 0 ||
                          call.rfind("WriteDebugRegister(0xE000EDF0", 0) == 0 ||
                          call == "ReadDebugRegister(0xE0001004)";
        if (step && (steps.empty() || steps.back() != call)) {
            steps.push_back(call);
        }
    }
    EXPECT_EQ(steps, (std::vector<std::string>{
                         "DravikEnumerateDevices()", "DravikSelectDevice(DRAVIK-BENCH-0001, 4)",
                         "DravikRunDevice()", "ReadDebugRegister(0xE0001004)",
                         "WriteDebugRegister(0xE000EDF0, 0xA05F0003)",
                         "DravikSetupDevice(72000000, 36, 0x00000003, 1)", "DravikRunDevice()",
                         "DravikStopSWVRead()", "DravikCloseDevice()"}));
    RecordingReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(recording, false, error)) << error;
    EXPECT_EQ(reader.header().traceClockHz, 72000000u);
    EXPECT_EQ(reader.header().prescaler, 36u);
    Bytes data;
    Record record;
    while (reader.next(record) == RecordingReader::Status::Record) {
        data.insert(data.end(), record.data.begin(), record.data.end());
    }
    EXPECT_EQ(data, trace);
    EXPECT_TRUE(reader.sawEnd());
}

TEST_F(CommandsTest, WithoutAClockACaptureThatCannotMeasureItSaysToGiveIt) {
    namespace target = dravik::clock::reg;
    const struct {
        const char* name;
        std::map<uint32_t, uint32_t> registers;
        bool counts;
        const char* why;
    } cases[] = {
        {"no cycle counter",
         {{target::kDwtCtrl, target::kDwtCtrlNocyccnt}},
         true,
         "the core has no cycle counter (DWT_CTRL.NOCYCCNT is set)"},
        {"halted",
         {{target::kDhcsr, target::kDhcsrSHalt}},
         false,
         "the cycle counter did not count, the core is halted"},
        {"asleep",
         {{target::kDhcsr, target::kDhcsrSSleep}},
         false,
         "the cycle counter did not count, the core is asleep (WFI/WFE)"},
    };
    const std::string recording = dir.path("trace.rec");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        api.registers = c.registers;
        if (!c.counts) {
            api.cycleCounter = [] { return 0x1234u; };
        }
        const size_t setups = api.countCalls("DravikSetupDevice");
        const size_t closes = api.countCalls("DravikCloseDevice");
        EXPECT_EQ(run({"capture", "--swo-rate", "2000000", "--raw", recording}), kExitFailure);
        EXPECT_EQ(err.str(), std::string("dravik-swv: target clock: not measured: ") + c.why +
                                 "\n  the clock could not be measured: give the clock the TPIU "
                                 "divides with --clock HZ\n");
        EXPECT_EQ(api.countCalls("DravikSetupDevice"), setups);
        EXPECT_EQ(api.countCalls("DravikCloseDevice"), closes + 1);
        EXPECT_FALSE(test::fileExists(recording));
    }
}

TEST_F(CommandsTest, ACtrlCWhileTheClockIsSoughtEndsBeforeAnyCapture) {
    stopRequests = 1;
    EXPECT_EQ(run({"capture", "--swo-rate", "2000000"}), kExitFailure);
    EXPECT_NE(err.str().find("dravik-swv: stopped before the trace clock was found\n"),
              std::string::npos)
        << err.str();
    EXPECT_EQ(err.str().find("captured"), std::string::npos) << err.str();
    EXPECT_EQ(api.countCalls("DravikSetupDevice"), 1u);
    EXPECT_EQ(api.countCalls("DravikStopSWVRead"), 1u);
    EXPECT_TRUE(api.closed());
}

TEST_F(CommandsTest, CaptureStopsOnRequest) {
    stopRequests = 1;  // as after Ctrl-C
    EXPECT_EQ(run({"capture", "--clock", "72000000", "--swo-rate", "2000000"}), 0);
    EXPECT_EQ(api.countCalls("DravikStopSWVRead"), 1u);
    EXPECT_TRUE(api.closed());
}

TEST_F(CommandsTest, CaptureReportsAFailedSetupAndClosesTheProbe) {
    api.setupResult = 28;
    api.setupStep = "Verifying written register TPIU_ACPR";
    api.setupError = "Unable to verify TPIU_ACPR register, expected: 35, got: 0";
    const std::string recording = dir.path("trace.rec");
    EXPECT_EQ(run(benchCapture({"--raw", recording})), kExitFailure);
    EXPECT_NE(
        err.str().find("dravik-swv: DravikSetupDevice failed with result 28\n"
                       "  step: Verifying written register TPIU_ACPR\n"
                       "  error: Unable to verify TPIU_ACPR register, expected: 35, got: 0\n"),
        std::string::npos)
        << err.str();
    EXPECT_TRUE(api.closed());
    EXPECT_EQ(api.countCalls("DravikRunDevice"), 0u);
    // Nothing was recorded, so no empty file is left behind.
    EXPECT_FALSE(test::fileExists(recording));
}

struct FailedSelection {
    const char* name;
    int result;
    const char* error;
    std::vector<std::string> diagnostics;
    const char* serial;
    const char* tail;  // the report's end: the device object's diagnostics and the hint
};

TEST_F(CommandsTest, AFailedSelectionIsReportedWithWhatToTry) {
    const FailedSelection cases[] = {
        {"generation too old",
         403,
         "Generation of device DRAVIK-BENCH-0001 is too old, expecting 3 "
         "but got 2",
         {},
         "DRAVIK-BENCH-0001",
         "  error: Generation of device DRAVIK-BENCH-0001 is too old, expecting 3 but got 2\n"
         "  hint: --allow-old-probe accepts a probe of generation 2 or older\n"},
        {"serial not connected",
         25,
         "Unable to open Dravik for device NOPE",
         {"Dravik serial number (NOPE) not found; can not open."},
         "NOPE",
         "  error: Unable to open Dravik for device NOPE\n"
         "  dbgdev: Dravik serial number (NOPE) not found; can not open.\n"
         "  hint: NOPE is not connected; connected: DRAVIK-BENCH-0001 (choose one with "
         "--serial)\n"},
        {"no target",
         4,
         "Unable to open device DRAVIK-BENCH-0001",
         {"Target voltage detected: 3.299200", "No target device detected: check JTAG signals"},
         "DRAVIK-BENCH-0001",
         "  error: Unable to open device DRAVIK-BENCH-0001\n"
         "  dbgdev: Target voltage detected: 3.299200\n"
         "  dbgdev: No target device detected: check JTAG signals\n"
         "  hint: no target answered: check the cable, the target's power and the target\n"},
        {"held in reset",
         17,
         "Unable to open device DRAVIK-BENCH-0001",
         {"Target is held under reset"},
         "DRAVIK-BENCH-0001",
         "  error: Unable to open device DRAVIK-BENCH-0001\n"
         "  dbgdev: Target is held under reset\n"
         "  hint: the target is held in reset: release its reset line, or use --reset\n"},
    };
    for (const FailedSelection& selection : cases) {
        SCOPED_TRACE(selection.name);
        api.selectResult = selection.result;
        api.selectError = selection.error;
        api.selectDiagnostics = selection.diagnostics;
        const size_t closes = api.countCalls("DravikCloseDevice");
        EXPECT_EQ(run(benchCapture({"--serial", selection.serial})), kExitFailure);
        const std::string report = "dravik-swv: DravikSelectDevice failed with result " +
                                   std::to_string(selection.result) + "\n  step: Open Target\n" +
                                   selection.tail;
        EXPECT_EQ(err.str().substr(err.str().find('\n') + 1), report);
        // A failed selection may leave the probe open: it is closed all the same.
        EXPECT_EQ(api.countCalls("DravikCloseDevice"), closes + 1);
    }
}

TEST_F(CommandsTest, CaptureWantsOneProbeOrASerialNumber) {
    api.listing = "A\t1\t2\nB\t1\t2\n";
    EXPECT_EQ(run(benchCapture()), kExitFailure);
    EXPECT_NE(err.str().find("dravik-swv: 2 probes connected; choose one with --serial: A, B\n"),
              std::string::npos);
    EXPECT_EQ(api.countCalls("DravikSelectDevice"), 0u);
}

TEST_F(CommandsTest, CaptureWithTimestampsSetsTsenaAndTimesTheRecords) {
    api.registers[reg::kItmTcr] = 0x00000001;
    api.registers[reg::kTpiuSppr] = 2;
    ItmStream stream;
    stream.write(0, 1, 'a').timestamp(2);
    api.polls = {SwvPoll{0, stream.bytes()}};
    EXPECT_EQ(run(benchCapture({"--timestamps", "--format", "jsonl", "--port", "0=text"})), 0)
        << err.str();
    EXPECT_EQ(api.registers[reg::kItmTcr], 0x00000007u);  // TSENA with SYNCENA, in one write
    EXPECT_EQ(api.countCalls("WriteDebugRegister(0xE0000E80, 0x00000007)"), 1u);
    // Two ticks of the 72 MHz clock.
    EXPECT_NE(out.str().find("{\"kind\":\"instrumentation\",\"port\":0,\"size\":1,\"value\":97,"
                             "\"text\":\"a\",\"ticks\":2,\"time\":0.000000028,\"host_time\":"),
              std::string::npos)
        << out.str();
}

TEST_F(CommandsTest, NoSyncLeavesSynchronisationOff) {
    EXPECT_EQ(run(benchCapture({"--no-sync"})), 0) << err.str();
    EXPECT_EQ(api.countCalls("ReadDebugRegister(0xE0001000)"), 0u);
    EXPECT_EQ(api.countCalls("WriteDebugRegister"), 0u);
}

TEST_F(CommandsTest, SynchronisationThatCannotBeHadIsWarnedOfAndTheCaptureGoesOn) {
    api.registers[reg::kDwtCtrl] = reg::kDwtCtrlNoCyccnt;
    EXPECT_EQ(run(benchCapture()), 0) << err.str();
    EXPECT_NE(err.str().find("dravik-swv: warning: no synchronisation packets: this DWT has no "
                             "cycle counter to tap (DWT_CTRL.NOCYCCNT is set); after a damaged "
                             "byte the decoder may stay lost (--no-sync skips this)\n"),
              std::string::npos)
        << err.str();
    // Without the tap, SYNCENA would do nothing: the ITM is left alone.
    EXPECT_EQ(api.countCalls("WriteDebugRegister"), 0u);
    EXPECT_EQ(api.countCalls("DravikRunDevice"), 1u);
}

TEST_F(CommandsTest, CaptureFailsWhenTsenaDoesNotTake) {
    api.registers[reg::kItmTcr] = 0x00000001;
    api.ignoreRegisterWrites = true;
    EXPECT_EQ(run(benchCapture({"--timestamps"})), kExitFailure);
    EXPECT_NE(err.str().find("dravik-swv: ITM_TCR.TSENA did not take (ITM_TCR reads 1); the ITM "
                             "may still be locked\n"),
              std::string::npos)
        << err.str();
    EXPECT_EQ(api.countCalls("DravikRunDevice"), 0u);
    EXPECT_EQ(api.countCalls("DravikStopSWVRead"), 1u);  // the setup had started the receiver
    EXPECT_TRUE(api.closed());
}

TEST_F(CommandsTest, CaptureRecordsWhatItReceivedAndDecodeShowsTheSame) {
    const std::string recording = dir.path("trace.rec");
    const std::string plain = dir.path("trace.bin");
    const Bytes trace = benchTrace(1, 4);
    api.registers[reg::kTpiuSppr] = 2;
    api.registers[reg::kItmTcr] = 0x00010001;
    api.polls = {SwvPoll{0, Bytes(trace.begin(), trace.begin() + 7)},
                 SwvPoll{DRAVIK_REFUSED, {}, "Buffer is too small, data is lost"},
                 SwvPoll{0, Bytes(trace.begin() + 7, trace.end())}};
    ASSERT_EQ(run(benchCapture({"--raw", recording, "--raw-plain", plain, "--ports", "3"})), 0)
        << err.str();
    const std::string live = out.str();
    EXPECT_EQ(test::readBytes(plain), trace);

    RecordingReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(recording, false, error)) << error;
    EXPECT_EQ(reader.header().traceClockHz, 72000000u);
    EXPECT_EQ(reader.header().prescaler, 36u);
    EXPECT_EQ(reader.header().swoRateBps, 2000000u);
    EXPECT_EQ(reader.header().stimulusMask, 3u);
    EXPECT_EQ(reader.header().txModeFlags, 1u);
    EXPECT_EQ(reader.header().pinProtocol, 2u);
    EXPECT_EQ(reader.header().itmTcr, 0x00010005u);
    EXPECT_EQ(std::string(reader.header().serial), "DRAVIK-BENCH-0001");
    std::vector<RecordType> types;
    Bytes data;
    Record record;
    while (reader.next(record) == RecordingReader::Status::Record) {
        types.push_back(record.type);
        data.insert(data.end(), record.data.begin(), record.data.end());
        if (record.type == RecordType::Gap) {
            EXPECT_EQ(record.cause, GapCause::ProbeDropped);
        }
    }
    EXPECT_EQ(types, (std::vector<RecordType>{RecordType::Data, RecordType::Gap, RecordType::Data,
                                              RecordType::End}));
    EXPECT_EQ(data, trace);
    EXPECT_NE(err.str().find("host drops 1,"), std::string::npos) << err.str();

    ASSERT_EQ(run({"decode", recording}), 0) << err.str();
    EXPECT_EQ(out.str(), live);
    EXPECT_NE(err.str().find("host drops 1,"), std::string::npos) << err.str();
    // The plain dump has no gap in it; a word split by the gap decodes whole there.
    ASSERT_EQ(run({"decode", plain, "--port", "0=text"}), 0) << err.str();
    EXPECT_EQ(out.str(), "line 1\nline 2\nline 3\nline 4\n");
}

TEST_F(CommandsTest, CaptureWritesAPortToItsFile) {
    const std::string file = dir.path("counter.txt");
    api.polls = {SwvPoll{0, benchTrace(1, 2)}};
    ASSERT_EQ(run(benchCapture({"--port-file", "1=" + file, "--port", "1=dec", "--ports", "3"})), 0)
        << err.str();
    EXPECT_EQ(test::readFile(file), "1\n2\n");
    // --port names the ports shown: only port 1, so no prefix and no port 0.
    EXPECT_EQ(out.str(), "1\n2\n");
}

TEST_F(CommandsTest, CaptureRefusesAFileItCannotCreateBeforeTouchingTheProbe) {
    EXPECT_EQ(run(benchCapture({"--port-file", "0=/nonexistent-dir/port0.txt"})), kExitFailure);
    EXPECT_EQ(err.str().substr(err.str().find('\n') + 1),
              "dravik-swv: cannot create /nonexistent-dir/port0.txt: No such file or directory\n");
    EXPECT_TRUE(api.calls().empty());
}

TEST_F(CommandsTest, CaptureEndsWhenTheProbeIsGone) {
    for (int i = 0; i < 10; ++i) {
        api.polls.push_back(SwvPoll{3, {}, "Unable to read SWV records, status: 3"});
    }
    EXPECT_EQ(run({"capture", "--clock", "72000000", "--swo-rate", "2000000"}), kExitFailure);
    const std::string text = err.str();
    EXPECT_NE(text.find("dravik-swv: DravikReadSWVData failed with result 3\n"
                        "  step: DravikReadSWVData - Called\n"
                        "  error: Unable to read SWV records, status: 3\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("dravik-swv: trace reads keep failing; the probe is gone\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("read failures 5,"), std::string::npos) << text;
    EXPECT_TRUE(api.closed());
}

TEST_F(CommandsTest, AFullQueueDropsFromTheDisplayOnlyAndSaysWhere) {
    queueChunks = 1;
    const std::string recording = dir.path("trace.rec");
    api.polls = {SwvPoll{0, {0x01, 'a'}}, SwvPoll{0, {0x01, 'b'}}, SwvPoll{0, {0x01, 'c'}}};
    // The consumer may take the chunks in time or not; either way nothing goes unaccounted.
    ASSERT_EQ(run(benchCapture({"--port", "0=hex", "--raw", recording})), 0) << err.str();
    const std::string text = err.str();
    const size_t at = text.find("queue drops ");
    ASSERT_NE(at, std::string::npos);
    const unsigned dropped = static_cast<unsigned>(std::stoul(text.substr(at + 12)));
    std::istringstream shown(out.str());
    unsigned values = 0;
    unsigned gapBytes = 0;
    for (std::string line; std::getline(shown, line);) {
        if (line.rfind("[gap] ", 0) == 0) {
            gapBytes += static_cast<unsigned>(std::stoul(line.substr(6)));
        } else {
            ++values;
        }
    }
    EXPECT_EQ(values * 2 + dropped, 6u) << out.str() << text;
    EXPECT_EQ(gapBytes, dropped) << out.str();
    // The recording has every byte, whatever the display dropped.
    RecordingReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(recording, false, error)) << error;
    Bytes data;
    Record record;
    while (reader.next(record) == RecordingReader::Status::Record) {
        EXPECT_NE(record.type, RecordType::Gap);
        data.insert(data.end(), record.data.begin(), record.data.end());
    }
    EXPECT_EQ(data, (Bytes{0x01, 'a', 0x01, 'b', 0x01, 'c'}));
}

// A poll that finds all the probe holds (DRAVIK_TRACE_BUFFER_SIZE) may follow a loss at the probe.
TEST_F(CommandsTest, FullProbeBuffersAreWarnedOfOnceAndCountedInTheSummary) {
    ItmStream words;
    for (unsigned n = 0; n < DRAVIK_TRACE_BUFFER_SIZE / 5; ++n) {
        words.write(0, 4, n);
    }
    const Bytes full = words.bytes();
    ASSERT_EQ(full.size(), static_cast<size_t>(DRAVIK_TRACE_BUFFER_SIZE));
    api.polls = {SwvPoll{0, full}, SwvPoll{0, Bytes(full.begin(), full.end() - 5)},
                 SwvPoll{0, full}};
    ASSERT_EQ(run(benchCapture({"-q"})), 0) << err.str();
    const std::string text = err.str();
    EXPECT_EQ(occurrences(text, "dravik-swv: warning: probe buffer full "), 1u) << text;
    EXPECT_NE(text.find(" times (bytes may be lost)\n"
                        "  likely causes: the draining thread was kept from its core (a busy "
                        "machine;\n"
                        "  -v shows how it is scheduled), or the line is faster than the probe "
                        "can be\n"
                        "  read (choose a lower --swo-rate)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("queue drops 0 B\n  probe buffer full 2 times (bytes may be lost)\n"
                        "  health: good\n"),
              std::string::npos)
        << text;
}

TEST_F(CommandsTest, GarbageIsWarnedOfOnceAndFailsAStrictCapture) {
    const std::string recording = dir.path("trace.rec");
    const Bytes bytes = garbage(12000);
    for (size_t at = 0; at < bytes.size(); at += 4000) {
        api.polls.push_back(SwvPoll{0, Bytes(bytes.begin() + static_cast<long>(at),
                                             bytes.begin() + static_cast<long>(at) + 4000)});
    }
    EXPECT_EQ(run({"capture", "--clock", "48000000", "--swo-rate", "2000000", "--duration", "1",
                   "--strict", "--raw", recording, "-q"}),
              kExitFailure);
    const std::string text = err.str();
    EXPECT_EQ(occurrences(text, "dravik-swv: warning: the trace does not decode ("), 1u) << text;
    EXPECT_NE(text.find("  --clock must be the clock the TPIU divides (given: 48000000 Hz / 24)\n"
                        "  --mode nrz: the probe's receiver reads NRZ only\n"
                        "  check the setup with: dravik-swv doctor --clock 48000000 --prescaler "
                        "24\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\n  health: corrupt: "), std::string::npos) << text;
    // Without --strict the same capture succeeds, with the same warning.
    EXPECT_EQ(run({"decode", recording, "-q"}), 0);
    EXPECT_EQ(occurrences(err.str(), "dravik-swv: warning: the trace does not decode ("), 1u);
    EXPECT_NE(err.str().find("  likely causes: it was captured at a wrong SWO rate or encoding "
                             "(48000000 Hz / 24)\n"),
              std::string::npos)
        << err.str();
    EXPECT_EQ(run({"decode", recording, "-q", "--strict"}), kExitFailure);
}

TEST_F(CommandsTest, ACaptureWithoutTraceSaysSoAndPointsAtDoctor) {
    EXPECT_EQ(run(benchCapture({"--ports", "0x4"})), 0);
    // The seconds are the scripted clock's, moved by the drainer's sleeps.
    EXPECT_EQ(occurrences(err.str(), "dravik-swv: no trace arrived in "), 1u) << err.str();
    EXPECT_NE(err.str().find(" s: the target wrote nothing to the enabled ports, or the trace "
                             "does not reach the probe\n"
                             "  check the setup with: dravik-swv doctor --clock 72000000 "
                             "--prescaler 36 --ports 0x4\n"),
              std::string::npos)
        << err.str();
    EXPECT_NE(err.str().find("  health: no trace arrived\n"), std::string::npos);
    EXPECT_EQ(run(benchCapture({"--ports", "0x4", "--strict"})), kExitFailure);
}

TEST_F(CommandsTest, AReaderThatWentAwayEndsTheCaptureQuietly) {
    const std::string recording = dir.path("trace.rec");
    api.polls = {SwvPoll{0, benchTrace(1, 2)}};
    out.setstate(std::ios::badbit);  // as `| head` leaves standard output
    outputGone = [] { return true; };
    ASSERT_EQ(run(benchCapture({"--raw", recording})), 0);
    EXPECT_EQ(err.str().find("cannot write"), std::string::npos) << err.str();
    EXPECT_EQ(err.str().find("captured"), std::string::npos) << err.str();
    EXPECT_EQ(api.countCalls("DravikStopSWVRead"), 1u);
    EXPECT_TRUE(api.closed());
    // The recording is finished all the same.
    RecordingReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(recording, false, error)) << error;
    Record record;
    while (reader.next(record) == RecordingReader::Status::Record) {
    }
    EXPECT_TRUE(reader.sawEnd());
}

TEST_F(CommandsTest, AnyOtherFailedWriteEndsTheCaptureWithAnError) {
    out.setstate(std::ios::badbit);
    outputGone = [] { return false; };
    api.polls = {SwvPoll{0, benchTrace(1, 2)}};
    EXPECT_EQ(run(benchCapture()), kExitFailure);
    EXPECT_NE(err.str().find("dravik-swv: cannot write to standard output\n"), std::string::npos)
        << err.str();
}

TEST_F(CommandsTest, OnATerminalTheStatusIsOneFittedRowDrawnOnlyWhenItChanges) {
    errIsTerminal = true;
    outIsTerminal = true;
    noColorSet = true;
    columns = 40;
    const Bytes trace = benchTrace(1, 100);
    for (size_t at = 0; at < trace.size(); at += 100) {
        api.polls.emplace_back(
            0, Bytes(trace.begin() + static_cast<long>(at),
                     trace.begin() + static_cast<long>(std::min(at + 100, trace.size()))));
    }
    const uint64_t startUs = clock.nowUs();
    ASSERT_EQ(run(benchCapture({"--ports", "3"})), 0);
    const uint64_t elapsedUs = clock.nowUs() - startUs;
    const std::string text = err.str();
    // Between the rate line and the summary: draws and erasures in place, no line end.
    const size_t first = text.find('\n') + 1;
    const size_t summary = text.find("captured ");
    ASSERT_NE(summary, std::string::npos) << text;
    const std::string live = text.substr(first, summary - first);
    EXPECT_EQ(live.find('\n'), std::string::npos) << live;
    std::vector<std::string> pieces;
    for (size_t at = 0; at <= live.size();) {
        const size_t next = live.find("\r\033[K", at);
        pieces.push_back(
            live.substr(at, next == std::string::npos ? std::string::npos : next - at));
        at = next == std::string::npos ? live.size() + 1 : next + 4;
    }
    ASSERT_EQ(pieces.front(), "");
    size_t draws = 0;
    for (size_t i = 1; i < pieces.size(); ++i) {
        if (pieces[i].empty()) {
            continue;  // taken away
        }
        ++draws;
        EXPECT_LE(pieces[i].size(), 39u) << pieces[i];
        // Drawn again only when the text changed, or after it was taken away.
        EXPECT_NE(pieces[i], pieces[i - 1]) << i;
    }
    EXPECT_GE(draws, 1u);
    EXPECT_LE(draws, elapsedUs / StatusLine::kFramePeriodUs + 1) << live;
    // Taken away before the summary.
    EXPECT_EQ(text.rfind("\r\033[K", summary), summary - 4) << text;
    std::string lines;
    for (unsigned n = 1; n <= 100; ++n) {
        char row[48];
        std::snprintf(row, sizeof row, "[0] line %u\n[1] 0x%08x\n", n, n);
        lines += row;
    }
    EXPECT_EQ(out.str(), lines);
}

TEST_F(CommandsTest, OffATerminalOnlyTheSummary) {
    api.polls = {SwvPoll{0, benchTrace(1, 1)}};
    ASSERT_EQ(run(benchCapture({"--ports", "3"})), 0);
    EXPECT_EQ(err.str().find('\r'), std::string::npos);
}

TEST_F(CommandsTest, VerboseShowsStepsAndDiagnostics) {
    api.selectDiagnostics = {"Target voltage 2.5 V"};
    raiseDrainPriority = true;
    EXPECT_EQ(run(benchCapture({"-v"})), 0) << err.str();
    const std::string text = err.str();
    // What it got depends on the privileges the tests run with; it is said either way.
    EXPECT_EQ(occurrences(text, "dravik-swv: draining thread: "), 1u) << text;
    EXPECT_EQ(
        occurrences(text, "dravik-swv: draining thread: real-time (SCHED_FIFO, priority 1)\n") +
            occurrences(text, "dravik-swv: draining thread: nice ") +
            occurrences(text, "dravik-swv: draining thread: normal priority, nice "),
        1u)
        << text;
    EXPECT_NE(text.find("dravik-swv: DravikSelectDevice: Read device status\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("dravik-swv: DravikSetupDevice: Starting SWV Trace Reception\n"),
              std::string::npos);
    EXPECT_NE(text.find("dbgdev: Target voltage 2.5 V\n"), std::string::npos);
}

TEST_F(CommandsTest, BadArgumentsTouchNothing) {
    const std::vector<std::vector<std::string>> bad = {
        {"capture"},
        {"capture", "--clock", "72000000"},
        {"capture", "--clock", "0", "--prescaler", "1"},
        {"capture", "--clock", "4294967296", "--prescaler", "1"},
        {"capture", "--clock", "72000000", "--prescaler", "0"},
        {"capture", "--clock", "72000000", "--prescaler", "65537"},
        {"capture", "--clock", "72000000", "--prescaler", "36", "--swo-rate", "2000000"},
        {"capture", "--clock", "72000000", "--prescaler", "36", "--mode", "uart"},
        {"capture", "--clock", "72000000", "--prescaler", "36", "--ports", "0"},
        {"capture", "--clock", "72000000", "--prescaler", "36", "--port", "300=hex"},
        {"capture", "--clock", "72000000", "--prescaler", "36", "--port", "1=bin"},
        {"capture", "--clock", "72000000", "--prescaler", "36", "--ports", "0x3", "--port",
         "5=hex"},
        {"capture", "--clock", "72000000", "--prescaler", "36", "--port", "32=hex"},
        {"capture", "--clock", "72000000", "--prescaler", "36", "--ports", "0x1", "--port-file",
         "1=x.txt"},
        {"capture", "--clock", "72000000", "--prescaler", "36", "--duration", "-1"},
        {"capture", "--clock", "72000000", "--prescaler", "36", "--format", "xml"},
        {"capture", "--clock", "72000000", "--prescaler", "36", "--raw", "a", "--raw-plain", "a"},
        {"capture", "--clock", "72000000", "--prescaler", "36", "--port", "1=n=%n"},
        {"capture", "--clock", "72000000", "--prescaler", "36", "--port", "1=%d%d"},
        {"capture", "--clock", "72000000", "--prescaler", "36", "--time", "later"},
        {"capture", "--clock", "72000000", "--prescaler", "36", "--time-format", "delta"},
        {"capture", "--clock", "72000000", "--prescaler", "36", "--time", "host", "--time-format",
         "daily"},
        {"capture", "--clock", "72000000", "--prescaler", "36", "--events=all-of-them"},
        {"capture", "--clock", "72000000", "--prescaler", "36", "--color", "sometimes"},
        {"capture", "--clock", "72000000", "--prescaler", "36", "--format", "jsonl", "--time",
         "host"},
        {"decode", "x.rec", "--port", "0=%s"},
        {"decode", "x.rec", "--format", "csv", "--events"},
        {"decode", "x.rec", "--format", "chrome-trace", "--time", "target"},
        {"capture", "--bogus"},
        {"decode"},
        {"decode", "x.rec", "--clock", "fast"},
        {"mem", "0x20000000"},
        {"mem", "0x20000000", "0"},
        {"mem", "0xFFFFFFF0", "32"},
        {"mem", "zz", "4"},
        {"doctor", "--clock", "72000000"},
        {"doctor", "--clock-candidates", "8000000"},
        {"capture", "--swo-rate", "2000000", "--clock-candidates", "8000000,0"},
        {"capture", "--swo-rate", "2000000", "--clock-candidates", "8000000,"},
        {"capture", "--clock", "72000000", "--swo-rate", "2000000", "--clock-candidates", "1"},
        {"capture", "--clock", "fast", "--swo-rate", "2000000"},
        {"frobnicate"},
        {},
    };
    for (const std::vector<std::string>& args : bad) {
        std::string joined;
        for (const std::string& arg : args) {
            joined += arg + " ";
        }
        EXPECT_EQ(run(args), kExitUsage) << joined;
        EXPECT_FALSE(err.str().empty()) << joined;
        EXPECT_TRUE(api.calls().empty()) << joined;
    }
}

TEST_F(CommandsTest, ArgumentMessagesSayWhatIsWrong) {
    EXPECT_EQ(run({"capture", "--clock", "72000000", "--prescaler", "36", "--ports", "0"}),
              kExitUsage);
    EXPECT_EQ(err.str(),
              "dravik-swv capture: --ports: at least one stimulus port must be enabled\n"
              "Run with --help for more information.\n");
    EXPECT_EQ(run({"capture", "--clock", "72000000"}), kExitUsage);
    EXPECT_EQ(err.str(),
              "dravik-swv capture: give --prescaler or --swo-rate with --clock\n"
              "Run with --help for more information.\n");
    EXPECT_EQ(run({"capture"}), kExitUsage);
    EXPECT_EQ(err.str(),
              "dravik-swv capture: give --prescaler or --swo-rate\n"
              "Run with --help for more information.\n");
    EXPECT_EQ(run({"capture", "--clock", "72000000", "--prescaler", "36", "--clock-candidates",
                   "8000000"}),
              kExitUsage);
    EXPECT_EQ(err.str(),
              "dravik-swv capture: --clock-candidates are tried when the clock is measured, not "
              "with --clock 72000000\n"
              "Run with --help for more information.\n");
    EXPECT_EQ(run({"capture", "--clock", "72000000", "--prescaler", "36", "--ports", "0x3",
                   "--port", "5=hex"}),
              kExitUsage);
    EXPECT_EQ(err.str(),
              "dravik-swv capture: --port 5=hex: port 5 is not enabled by --ports 0x00000003\n"
              "Run with --help for more information.\n");
}

TEST_F(CommandsTest, HelpOnEverySubcommand) {
    for (const char* command : {"list", "capture", "decode", "doctor", "mem", "blink"}) {
        EXPECT_EQ(run({command, "--help"}), 0) << command;
        EXPECT_NE(out.str().find(std::string("Usage: dravik-swv ") + command), std::string::npos)
            << out.str();
    }
    EXPECT_TRUE(api.calls().empty());
}

// --- decode ---

TEST_F(CommandsTest, DecodeFormatsAPlainDump) {
    const std::string path = dir.path("trace.bin");
    ItmStream stream;
    stream.write(1, 2, 0x1234).overflow();
    test::writeBytes(path, stream.bytes());
    ASSERT_EQ(run({"decode", path, "--format", "csv"}), 0) << err.str();
    EXPECT_EQ(out.str(),
              "kind,port,size,value,text,ticks,time,host_time,detail\n"
              "header,,,1,,,,,\n"
              "instrumentation,1,2,4660,,,,,\n"
              "overflow,,0,0,,,,,\n");
    EXPECT_EQ(err.str(),
              "decoded 4 bytes, 2 packets\n"
              "  port 1: 1 packets\n"
              "  losses: overflows 1, decode errors 0 B, host drops 0, read failures 0, queue "
              "drops 0 B\n"
              "  health: too little trace to judge (4 bytes)\n");
}

TEST_F(CommandsTest, DecodeShowsTimesEventsAndPatternsAsAsked) {
    const std::string path = dir.path("events.bin");
    ItmStream stream;
    stream
        .exception(15, 1)  // SysTick entered
        .localTimestamp(1000)
        .text(0, "go!\n")  // one word
        .localTimestamp(500)
        .write(1, 4, 0x41AC0000)  // 21.5f
        .localTimestamp(250);
    test::writeBytes(path, stream.bytes());
    const std::vector<std::string> args = {"decode",   path,       "--plain", "--clock",
                                           "1000000",  "--time",   "target",  "--time-format",
                                           "absolute", "--events", "--port",  "0=text",
                                           "--port",   "1=v=%.1f", "--color"};
    std::vector<std::string> plain = args;
    plain.push_back("never");
    ASSERT_EQ(run(plain), 0) << err.str();
    EXPECT_EQ(out.str(),
              "[t 0.001000] [exception] entered SysTick\n"
              "[t 0.001500] [0] go!\n"
              "[t 0.001750] [1] v=21.5\n");
    std::vector<std::string> colored = args;
    colored.push_back("always");
    ASSERT_EQ(run(colored), 0) << err.str();
    EXPECT_NE(out.str().find("\033[2m[t 0.001500] \033[0m\033[36m[0]\033[0m go!\n"),
              std::string::npos)
        << out.str();
}

TEST_F(CommandsTest, ARecordingWithTimestampsIsDecodedWithItsTargetTime) {
    const std::string recording = dir.path("stamped.rec");
    std::string error;
    std::unique_ptr<RecordingWriter> writer =
        RecordingWriter::create(recording, RecordingWriter::Kind::Recording, error);
    ASSERT_NE(writer, nullptr) << error;
    RecordingSettings settings;
    settings.traceClockHz = 1000000;
    settings.prescaler = 1;
    settings.itmTcr = 0x00000003;  // ITMENA, TSENA; local timestamps count the trace clock
    ASSERT_TRUE(writer->writeHeader(makeRecordingHeader(settings)));
    const Bytes trace =
        ItmStream().text(0, "a\n").localTimestamp(1000).text(0, "b\n").localTimestamp(500).bytes();
    ASSERT_TRUE(writer->writeData(0, trace.data(), trace.size()));
    ASSERT_TRUE(writer->writeEnd(0));
    ASSERT_TRUE(writer->close());

    ASSERT_EQ(run({"decode", recording, "--port", "0=text", "--color", "never"}), 0) << err.str();
    EXPECT_EQ(out.str(), "[t 0.000000] a\n[t 0.000500] b\n");
}

TEST_F(CommandsTest, DecodeShowsPacketsOnEveryPageOfPorts) {
    // A word of text on port 0, then a page change to ports 224..255 and two bytes there.
    const std::string path = dir.path("page.bin");
    test::writeBytes(path, {0x01, 'A', 0x78, 0x01, 'B', 0x01, '\n'});
    const char* const summary =
        "decoded 7 bytes, 4 packets\n"
        "  port 0: 1 packets\n"
        "  unexpected ports: 2 packets on port 224, not enabled\n"
        "  losses: overflows 0, decode errors 0 B, host drops 0, read failures 0, queue drops "
        "0 B\n"
        "  health: too little trace to judge (7 bytes)\n";
    const struct {
        const char* format;
        const char* out;
    } cases[] = {
        {"text", "[224] B\n[0] A\n"},
        {"jsonl",
         "{\"kind\":\"header\",\"version\":1}\n"
         "{\"kind\":\"instrumentation\",\"port\":0,\"size\":1,\"value\":65,\"text\":\"A\"}\n"
         "{\"kind\":\"stimulus_page\",\"size\":0,\"value\":7}\n"
         "{\"kind\":\"instrumentation\",\"port\":224,\"size\":1,\"value\":66,\"text\":\"B\"}\n"
         "{\"kind\":\"instrumentation\",\"port\":224,\"size\":1,\"value\":10,"
         "\"text\":\"\\u000a\"}\n"},
        {"csv",
         "kind,port,size,value,text,ticks,time,host_time,detail\n"
         "header,,,1,,,,,\n"
         "instrumentation,0,1,65,\"A\",,,,\n"
         "stimulus_page,,0,7,,,,,\n"
         "instrumentation,224,1,66,\"B\",,,,\n"
         "instrumentation,224,1,10,\"\\x0a\",,,,\n"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(run({"decode", path, "--plain", "--format", c.format}), 0) << err.str();
        EXPECT_EQ(out.str(), c.out) << c.format;
        EXPECT_EQ(err.str(), summary) << c.format;
    }
}

TEST_F(CommandsTest, DecodeSaysWhenARecordingWasCutShort) {
    const std::string recording = dir.path("trace.rec");
    api.polls = {SwvPoll{0, benchTrace(1, 1)}};
    ASSERT_EQ(run(benchCapture({"--raw", recording, "-q"})), 0) << err.str();
    EXPECT_EQ(out.str(), "");
    Bytes bytes = test::readBytes(recording);
    bytes.resize(bytes.size() - 16);  // no end record
    test::writeBytes(recording, bytes);
    ASSERT_EQ(run({"decode", recording}), 0);
    EXPECT_EQ(out.str(), "[0] line 1\n[1] 0x00000001\n");
    EXPECT_NE(err.str().find("has no end record: the capture was cut short\n"), std::string::npos);
}

TEST_F(CommandsTest, DecodeReportsAFileItCannotRead) {
    EXPECT_EQ(run({"decode", dir.path("missing.rec")}), kExitFailure);
    EXPECT_EQ(err.str(), "dravik-swv: cannot open " + dir.path("missing.rec") +
                             ": No such file or directory\n");
}

TEST_F(CommandsTest, DecodeReplaysInRealTime) {
    const std::string recording = dir.path("trace.rec");
    api.polls = {SwvPoll{0, benchTrace(1, 1)}};
    ASSERT_EQ(run(benchCapture({"--raw", recording, "-q"})), 0);
    const uint64_t before = clock.nowUs();
    ASSERT_EQ(run({"decode", recording, "--realtime", "-q"}), 0);
    // The fake clock moves only by the replay's sleeps: up to the last record's time.
    EXPECT_GT(clock.nowUs(), before);
}

// Notes when each piece of output was written, on the test's clock.
class TimedWrites : public std::streambuf {
  public:
    explicit TimedWrites(FakeClock& clock) : clock_(clock) {}
    std::vector<std::pair<uint64_t, std::string>> writes;

  protected:
    std::streamsize xsputn(const char* text, std::streamsize size) override {
        writes.emplace_back(clock_.nowUs(), std::string(text, static_cast<size_t>(size)));
        return size;
    }
    int overflow(int c) override {
        writes.emplace_back(clock_.nowUs(), std::string(1, static_cast<char>(c)));
        return c;
    }

  private:
    FakeClock& clock_;
};

TEST_F(CommandsTest, AReplayOnATerminalShowsEachPieceOfALineOnceItHasWaitedTheHold) {
    // The target wrote "a" at 0 s, "b" at 0.5 s and the line end at 1.5 s.
    const std::string recording = dir.path("pieces.rec");
    std::string error;
    std::unique_ptr<RecordingWriter> writer =
        RecordingWriter::create(recording, RecordingWriter::Kind::Recording, error);
    ASSERT_NE(writer, nullptr) << error;
    RecordingSettings settings;
    settings.traceClockHz = 72000000;
    settings.prescaler = 36;
    ASSERT_TRUE(writer->writeHeader(makeRecordingHeader(settings)));
    for (const auto& [timeUs, byte] :
         {std::pair<uint64_t, uint8_t>{0, 'a'}, {500000, 'b'}, {1500000, '\n'}}) {
        const Bytes write = ItmStream().write(0, 1, byte).bytes();
        ASSERT_TRUE(writer->writeData(timeUs, write.data(), write.size()));
    }
    ASSERT_TRUE(writer->writeEnd(1500000));
    ASSERT_TRUE(writer->close());

    TimedWrites screen(clock);
    std::ostream terminal(&screen);
    mainOut = &terminal;
    outIsTerminal = true;
    const uint64_t startUs = clock.nowUs();
    ASSERT_EQ(run({"decode", recording, "--realtime", "--time", "host", "--port", "0=text",
                   "--color", "never"}),
              0)
        << err.str();
    const uint64_t hold = TracePipeline::kPartialLineHoldUs;
    // The row carries the time its first character arrived, however long it waited.
    const std::vector<std::pair<uint64_t, std::string>> expected = {
        {startUs + hold, "[h 0.000000] a"},
        {startUs + 500000 + hold, "b"},
        {startUs + 1500000, "\n"}};
    EXPECT_EQ(screen.writes, expected);
}

// --- doctor ---

TEST_F(CommandsTest, DoctorSetsUpReadsBackAndExplains) {
    api.registers = {
        {reg::kDemcr, 0x01000000},   {reg::kItmLsr, 1},       {reg::kItmTcr, 0x00000001},
        {reg::kItmTer0, 0xFFFFFFFE}, {reg::kItmTpr, 0},       {reg::kTpiuAcpr, 35},
        {reg::kTpiuSppr, 2},         {reg::kTpiuType, 0xCA0}, {reg::kTpiuFfcr, 0x102}};
    EXPECT_EQ(run({"doctor", "--clock", "72000000", "--swo-rate", "2000000"}), 0) << err.str();
    EXPECT_EQ(api.countCalls("DravikSetupDevice(72000000, 36, 0xFFFFFFFF, 1)"), 1u);
    EXPECT_EQ(api.countCalls("DravikStopSWVRead"), 1u);
    EXPECT_EQ(out.str(),
              "DEMCR      0x01000000  TRCENA=1\n"
              "ITM_LSR    0x00000001  unlocked\n"
              "ITM_TCR    0x00000005  ITMENA=1 TSENA=0 SYNCENA=1 DWTENA=0 SWOENA=0 TSPrescale=0 "
              "TraceBusID=0 BUSY=0\n"
              "ITM_TER0   0xFFFFFFFE  enabled ports: 1-31\n"
              "ITM_TPR    0x00000000  privileged-only port groups: none\n"
              "DWT_CTRL   0x00000401  CYCCNTENA=1 SYNCTAP=1 NOCYCCNT=0\n"
              "TPIU_ACPR  0x00000023  prescaler 36 (2000000 bit/s from 72000000 Hz)\n"
              "TPIU_SPPR  0x00000002  SWO NRZ\n"
              "TPIU_TYPE  0x00000CA0  NRZ yes, Manchester yes, FIFO 4 bytes\n"
              "TPIU_FFCR  0x00000102  formatter on\n"
              "\n"
              "warning: ITM_TCR.TraceBusID is 0 while the TPIU formatter is on: a formatter "
              "drops trace of ID 0\n"
              "  give the ITM a trace bus ID of 1 to 0x6F (ITM_TCR bits 22:16)\n"
              "warning: stimulus port 0 is disabled in ITM_TER0\n"
              "  writes to it are dropped; set its bit in ITM_TER0 (0xE0000E00)\n"
              "note: ITM synchronisation packets are on: one every 2^24 cycles (0.23 s at "
              "72000000 Hz)\n"
              "warning: the TPIU formatter is on, so the stream is framed\n"
              "  unless this TPIU bypasses it for SWO, clear TPIU_FFCR.EnFCont (bit 1 of "
              "0xE0040304): the decoder expects the bare ITM stream\n"
              "note: no trace arrived in 0.25 s of listening\n"
              "  the target may not have written to an enabled port meanwhile\n"
              "nothing found that would keep trace from arriving\n");
    // It let the target run to listen, and stopped the receiver after.
    EXPECT_EQ(api.countCalls("DravikRunDevice"), 1u);
    EXPECT_TRUE(api.closed());
}

// The trace registers as a setup for 48 MHz / 24 leaves them, all of them sound.
std::map<uint32_t, uint32_t> setupAt48MHz() {
    return {{reg::kDemcr, 0x01000000},   {reg::kItmLsr, 1},      {reg::kItmTcr, 1},
            {reg::kItmTer0, 0xFFFFFFFF}, {reg::kTpiuAcpr, 23},   {reg::kTpiuSppr, 2},
            {reg::kTpiuType, 0xCA0},     {reg::kTpiuFfcr, 0x100}};
}

TEST_F(CommandsTest, DoctorListensAndFailsOnTraceThatDoesNotDecode) {
    api.registers = setupAt48MHz();
    // The registers agree with --clock 48000000; the bytes do not.
    const Bytes bytes = garbage(6000);
    api.polls = {SwvPoll{0, Bytes(bytes.begin(), bytes.begin() + 3000)},
                 SwvPoll{0, Bytes(bytes.begin() + 3000, bytes.end())}};
    EXPECT_EQ(run({"doctor", "--clock", "48000000", "--swo-rate", "2000000"}), kExitFailure);
    const std::string shown = out.str();
    // The core clock, measured, tells why.
    EXPECT_NE(shown.find("warning: you gave 48 MHz; the core runs at 72.0 MHz\n"
                         "  --clock must be the clock the TPIU divides: the core clock, unless the "
                         "part feeds the TPIU a divided one; without --clock it is measured and "
                         "tried on the trace\n"
                         "problem: the trace does not decode: "),
              std::string::npos)
        << shown;
    EXPECT_NE(shown.find("  the SWO rate or encoding is wrong: --clock must be the clock the TPIU "
                         "divides (given: 48000000 Hz), and --mode nrz\n"),
              std::string::npos)
        << shown;
    EXPECT_EQ(shown.find("nothing found"), std::string::npos) << shown;
}

TEST_F(CommandsTest, DoctorSaysWhatItHeardWhenTheTraceDecodes) {
    coreHz = 48000000;
    api.registers = setupAt48MHz();
    api.polls = {SwvPoll{0, benchTrace(1, 200)}};
    EXPECT_EQ(run({"doctor", "--clock", "48000000", "--swo-rate", "2000000"}), 0) << out.str();
    EXPECT_NE(
        out.str().find("note: listened for 0.25 s: " + std::to_string(benchTrace(1, 200).size()) +
                       " bytes, 710 packets, and they decode\n"),
        std::string::npos)
        << out.str();
}

TEST_F(CommandsTest, DoctorFailsWhenSomethingStopsTrace) {
    api.registers = {{reg::kTpiuSppr, 2}, {reg::kTpiuType, 0xCA0}};
    api.failingRegisterReads = {reg::kItmTpr};
    EXPECT_EQ(run({"doctor", "--no-setup"}), kExitFailure);
    EXPECT_EQ(api.countCalls("DravikSetupDevice"), 0u);
    const std::string shown = out.str();
    EXPECT_NE(shown.find("ITM_TPR    (not read)\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("problem: DEMCR.TRCENA is clear, so the DWT, ITM and TPIU are switched "
                         "off\n"),
              std::string::npos)
        << shown;
    EXPECT_NE(err.str().find("dravik-swv: DbgDev::ReadDebugRegister(ITM_TPR) failed with result "
                             "26 (no probe found, or probe not open)\n"),
              std::string::npos)
        << err.str();
}

TEST_F(CommandsTest, DoctorStillReadsBackAfterAFailedSetup) {
    api.setupResult = 403;
    api.setupError = "No TXMode selected, check flags";
    api.registers = {{reg::kDemcr, 0x01000000},   {reg::kItmLsr, 1},      {reg::kItmTcr, 1},
                     {reg::kItmTer0, 0xFFFFFFFF}, {reg::kTpiuAcpr, 35},   {reg::kTpiuSppr, 2},
                     {reg::kTpiuType, 0x480},     {reg::kTpiuFfcr, 0x100}};
    EXPECT_EQ(run({"doctor", "--clock", "72000000", "--prescaler", "36"}), kExitFailure);
    EXPECT_NE(err.str().find("  error: No TXMode selected, check flags\n"
                             "  hint: this TPIU offers Manchester only (TPIU_TYPE 0x00000480): use "
                             "--mode manchester\n"),
              std::string::npos)
        << err.str();
    EXPECT_NE(out.str().find("problem: TPIU_SPPR selects NRZ, which this TPIU does not support"),
              std::string::npos)
        << out.str();
    EXPECT_EQ(api.countCalls("DravikStopSWVRead"), 0u);  // the receiver never started
}

// --- mem, blink ---

TEST_F(CommandsTest, MemDumpsTheRangeAskedForThroughAlignedReads) {
    for (unsigned i = 0; i < 0x40; ++i) {
        api.memory.push_back(static_cast<uint8_t>(i));
    }
    ASSERT_EQ(run({"mem", "0x20000002", "5"}), 0) << err.str();
    EXPECT_EQ(out.str(),
              "20000000        02 03 04 05 06                              |  .....         |\n");
    EXPECT_EQ(api.countCalls("DravikReadMemory(0x20000000, 8)"), 1u);

    api.memory.assign(0x800, 0x41);
    ASSERT_EQ(run({"mem", "0x200003FC", "8"}), 0);
    EXPECT_EQ(api.countCalls("DravikReadMemory(0x200003FC, 4)"), 1u);
    EXPECT_EQ(api.countCalls("DravikReadMemory(0x20000400, 4)"), 1u);
}

TEST_F(CommandsTest, MemReportsAFailedRead) {
    api.memoryResult = 20;
    api.memoryError = "Unable to read memory, address must be 4-byte aligned";
    EXPECT_EQ(run({"mem", "0x20000000", "4"}), kExitFailure);
    EXPECT_NE(err.str().find("dravik-swv: DravikReadMemory failed with result 20\n"
                             "  step: DravikReadMemory - Called\n"
                             "  error: Unable to read memory, address must be 4-byte aligned\n"),
              std::string::npos)
        << err.str();
    EXPECT_EQ(out.str(), "");
}

TEST_F(CommandsTest, BlinkTheNamedOrTheOnlyProbe) {
    ASSERT_EQ(run({"blink", "XYZ"}), 0);
    EXPECT_EQ(probeCalls(),
              (std::vector<std::string>{"DravikBlinkDebugger(XYZ)", "DravikCloseDevice()"}));
    ASSERT_EQ(run({"blink"}), 0);
    EXPECT_EQ(api.countCalls("DravikBlinkDebugger(DRAVIK-BENCH-0001)"), 1u);
    api.blinkResult = 21;
    EXPECT_EQ(run({"blink"}), kExitFailure);
    EXPECT_NE(err.str().find("DravikBlinkDebugger failed with result 21"), std::string::npos);
}

}  // namespace
}  // namespace dravik::swv
