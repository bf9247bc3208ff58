// A fault at every exchange of a whole capture. The fault-free capture is counted first (E
// exchanges); then, for every k in 1..E and every fault kind, the capture is run again on a fresh
// bench with the fault at exchange k, and checked:
//   - the exported call that met the fault fails, with a step and texts that name what failed,
//     unless the interface's rules let that exchange's result go unused (kAllowances below);
//   - every failing call of the run leaves consistent texts, the trace bytes reported as
//     delivered are the receiver's, in order, none twice, and none vanished unreported;
//   - the close leaves no device object and no selection, and a fresh capture in the same process
//     then succeeds and delivers every byte.
// Resets that a fault leaves unrequested end in the library's 2 s waits; the stepped wall clock
// lets each such wait end after 200 polls, so the whole sweep takes well under a second.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "CaptureRun.h"
#include "DravikBench/Bench.h"
#include "DravikBench/TargetConfig.h"
#include "DravikTrace.h"
#include "FailureTexts.h"
#include "SteppedWallClock.h"

namespace dravik::test {
namespace {

using sim::Fault;
using sim::WireEntry;

// One exchange of the fault-free capture, as a rule sees it.
struct Exchange {
    const std::vector<WireEntry>& sends;  // the fault-free capture's exchanges, in order
    size_t index;                         // of this one (exchange number index + 1)
    const std::string& function;          // the exported call that made it
    Fault::Kind kind;                     // the fault put on it

    const WireEntry& entry(size_t i) const { return sends[i]; }
    bool is(std::initializer_list<uint8_t> cdb, size_t i) const {
        return i < sends.size() && std::equal(cdb.begin(), cdb.end(), sends[i].cdb.begin());
    }
    bool is(std::initializer_list<uint8_t> cdb) const { return is(cdb, index); }
    bool traceRead() const { return sends[index].direction == DRAVIK_DIR_TRACE_STREAM; }
};

// Commands whose answer has no status word: only the transport result is checked.
bool HasNoStatusWord(const Exchange& x) {
    return x.is({0xF1, 0x80}) || x.is({0xFB, 0x80}) || x.is({0xF5}) || x.is({0xF7}) ||
           x.is({0xF3, 0x07}) || x.is({0xF2, 0x21}) || x.is({0xF2, 0x07}) || x.is({0xF2, 0x42}) ||
           x.traceRead();
}

// Exchanges whose result the interface does not use, so that a fault there may go unnoticed.
struct Allowance {
    const char* exchanges;
    const char* reason;
    bool (*applies)(const Exchange&);
};

const Allowance kAllowances[] = {
    {"DravikCloseDevice: the mode query, access port release and debug exit of CloseDevice(0)",
     "DravikCloseDevice drops CloseDevice(0)'s result, and CloseTarget the release's",
     [](const Exchange& x) { return x.function == "DravikCloseDevice"; }},
    {"DravikSelectDevice: the clock step of OpenTarget (SetComFreq's mode query and F2 61)",
     "OpenTarget replaces the clock step's result with the debug entry's",
     [](const Exchange& x) {
         return x.function == "DravikSelectDevice" &&
                (x.is({0xF2, 0x61}) || (x.is({0xF5}) && x.is({0xF2, 0x61}, x.index + 1)));
     }},
    {"DravikSelectDevice: the target voltage query of OpenTarget (F7)",
     "OpenTarget replaces the voltage step's result with the debug entry's",
     [](const Exchange& x) { return x.function == "DravikSelectDevice" && x.is({0xF7}); }},
    {"DravikSelectDevice: Reset's DHCSR sample for a reset line the probe holds (the read right "
     "after DEMCR is set to VC_CORERESET)",
     "a failed sample counts as 'not held'; the reset request and its own waits follow",
     [](const Exchange& x) {
         return x.function == "DravikSelectDevice" && x.is({0xF2, 0x36, 0xF0, 0xED, 0x00, 0xE0}) &&
                x.index > 0 &&
                x.is({0xF2, 0x35, 0xFC, 0xED, 0x00, 0xE0, 0x01, 0x00, 0x00, 0x00}, x.index - 1);
     }},
    {"status faults on answers without a status word: version, extended version, mode, target "
     "voltage, DFU exit, debug exit, 32-bit memory read data, pending trace count, trace read",
     "SendRequestAndAnalyzeStatus checks only the transport for them: a status word there is data",
     [](const Exchange& x) { return x.kind == Fault::Kind::Status && HasNoStatusWord(x); }},
};

const Allowance* AllowanceFor(const Exchange& x) {
    for (const Allowance& a : kAllowances) {
        if (a.applies(x)) {
            return &a;
        }
    }
    return nullptr;
}

struct Kind {
    const char* name;
    Fault fault;
};

const Kind kKinds[] = {
    {"transport failure", {Fault::Kind::Transport, sim::drv::kFailure}},
    {"target-absent status 0x0005", {Fault::Kind::Status, sim::status::kNoTarget}},
    {"generic error status 0x0081", {Fault::Kind::Status, sim::status::kGenericError}},
    {"probe unplugged from here on", {Fault::Kind::Unplug, 0}},
};

class FaultSweepTest : public ::testing::Test {
  protected:
    void TearDown() override {
        DravikCloseDevice();
        sim::bench().reset();
    }
    SteppedWallClock clock_;
};

TEST_F(FaultSweepTest, AFaultAtEveryExchangeIsReportedAndSurvived) {
    FreshCaptureBench(true);
    CaptureRun reference(kCaptureSerial);
    reference.run();
    ASSERT_EQ("", reference.cleanCaptureProblems());
    const std::vector<WireEntry> sends = sim::bench().sends();
    const uint64_t E = sim::bench().exchangeCount();
    ASSERT_EQ(E, sends.size());

    std::vector<uint8_t> canary(CaptureRun::kMemoryBytes);
    for (unsigned i = 0; i < CaptureRun::kMemoryBytes; ++i) {
        canary[i] = sim::sramCanaryByte(CaptureRun::kMemoryAddress - sim::silicon::kSramBase + i);
    }
    unsigned injected = 0;
    std::map<const Allowance*, std::map<uint64_t, unsigned>> allowed;  // exchange: faults
    for (const Kind& kind : kKinds) {
        for (uint64_t k = 1; k <= E; ++k) {
            const std::string where = std::string(kind.name) + " at exchange " + std::to_string(k) +
                                      " (" + sends[k - 1].cdbHex() + ")";
            SCOPED_TRACE(where);
            FreshCaptureBench(false);
            sim::bench().injectFault(static_cast<unsigned>(k), kind.fault);
            ++injected;
            CaptureRun run(kCaptureSerial);
            run.run();

            const CallRecord* met = run.callMaking(k);
            ASSERT_NE(nullptr, met) << "the exchange numbers follow the fault-free capture";
            const Exchange x{sends, k - 1, met->function, kind.fault.kind};
            const Allowance* allowance = AllowanceFor(x);
            if (allowance != nullptr) {
                ++allowed[allowance][k];
            } else {
                EXPECT_NE(DRAVIK_OK, met->result) << met->function << " did not report it";
            }
            for (const CallRecord& c : run.calls()) {
                EXPECT_EQ("", FailureTextProblem(c, kCaptureSerial)) << c.function;
            }
            // A poll that met a corrupted answer may report bytes that are not the receiver's.
            std::vector<size_t> unchecked;
            if (allowance != nullptr && met->function == "DravikReadSWVData") {
                unchecked.push_back(static_cast<size_t>(met - run.calls().data()));
            }
            EXPECT_EQ("", run.traceProblems(unchecked));
            const bool memoryMetIt = met->function == "DravikReadMemory" && allowance != nullptr;
            if (run.memoryResult() == DRAVIK_OK && !memoryMetIt) {
                EXPECT_EQ(canary, run.memory()) << "a memory read that succeeded holds the SRAM";
            }
            EXPECT_EQ(nullptr, g_dev);
            EXPECT_EQ(nullptr, g_currentDevice);

            PlugCaptureProbeInAgain();
            CaptureRun fresh(kCaptureSerial);
            fresh.run();
            EXPECT_EQ("", fresh.cleanCaptureProblems()) << "the fresh capture after the fault";
            if (HasFailure()) {
                return;  // one fault's story is enough to read
            }
        }
    }
    std::printf("E = %llu exchanges; %u faults injected (%zu kinds)\n",
                static_cast<unsigned long long>(E), injected, std::size(kKinds));
    for (const Allowance& a : kAllowances) {
        std::string list;
        unsigned faults = 0;
        for (const auto& [exchange, count] : allowed[&a]) {
            list += (list.empty() ? "" : " ") + std::to_string(exchange);
            faults += count;
        }
        std::printf("result not used, %u faults at exchanges %s: %s (%s)\n", faults, list.c_str(),
                    a.exchanges, a.reason);
    }
    EXPECT_EQ(4 * E, injected);
}

}  // namespace
}  // namespace dravik::test
