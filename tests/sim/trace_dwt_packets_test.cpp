// The DWT's trace packets out of the SWO pin: PC samples paced by CYCTAP, POSTPRESET and
// POSTINIT and drawn from the bench's profile, the entries, exits and returns of the firmware's
// exceptions, their local timestamps, their share of the line, and the enables they need.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "target/DwtRegisters.h"
#include "trace_test_support.h"

namespace dravik::sim {
namespace {

using namespace trace;
using tracetest::hex;
using tracetest::kRunning;
using Kind = tracetest::Packet::Kind;

constexpr uint32_t kDwtTcr = itm::kTcrItmEna | itm::kTcrTxEna;
constexpr uint32_t kTimedDwtTcr = kDwtTcr | itm::kTcrTsEna;
constexpr uint32_t kFastLine = 0;  // TPIU_ACPR 0: a byte every 10 core cycles
constexpr uint64_t kCyclesPerUs = 72;

// DWT_CTRL with the cycle counter on and PC sampling every (postPreset + 1) taps of CYCCNT bit
// 6 (cycTap false) or 10, the first after postInit + 1.
constexpr uint32_t sampling(bool cycTap, uint32_t postPreset, uint32_t postInit) {
    return dwt::ctrl::kCyccntena | dwt::ctrl::kPcsamplena | (cycTap ? dwt::ctrl::kCyctap : 0u) |
           postPreset << dwt::ctrl::kPostpresetShift | postInit << dwt::ctrl::kPostinitShift;
}
constexpr uint32_t kExceptionTrace = dwt::ctrl::kExctrcena;

// A target whose firmware writes nothing to the ITM, so the DWT's packets are all there is.
TraceConfig quietTarget() {
    TraceConfig config;
    config.program = IdleTraceProgram{};
    return config;
}

// At time 0: the trace port set up as a host does, then DWT_CTRL written.
void start(TraceUnit& unit, uint32_t dwtCtrl, uint32_t tcr = kDwtTcr, uint32_t acpr = kFastLine) {
    tracetest::setUpSwo(unit, {acpr, tpiu::kSpprNrz, 0xFFFFFFFF, tcr});
    unit.write32(dwt::kCtrl, dwtCtrl, 0);
}

// A DWT packet and the core cycle it was queued at, summed from the local timestamps that follow
// the packets (a packet without one was queued with the one before it).
struct Timed {
    tracetest::Packet packet;
    uint64_t cycle = 0;
};

std::vector<Timed> timedDwtPackets(const std::vector<uint8_t>& bytes) {
    const std::vector<tracetest::Packet> packets = tracetest::splitItm(bytes);
    std::vector<Timed> out;
    uint64_t cycle = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
        if (packets[i].kind != Kind::Hardware) {
            continue;
        }
        if (i + 1 < packets.size() && packets[i + 1].kind == Kind::Timestamp) {
            cycle += packets[i + 1].value;
        }
        out.push_back({packets[i], cycle});
    }
    return out;
}

bool isPcSample(const tracetest::Packet& p) {
    return p.port == 2;
}

// An exception trace packet as (cycle, function, number), for comparing sequences.
using ExceptionStep = std::tuple<uint64_t, char, unsigned>;

std::vector<ExceptionStep> exceptionSteps(const std::vector<uint8_t>& bytes) {
    std::vector<ExceptionStep> out;
    for (const Timed& t : timedDwtPackets(bytes)) {
        if (t.packet.port == 1) {
            const char function = "?EXR"[(t.packet.value >> 12) & 3];
            out.emplace_back(t.cycle, function, t.packet.value & 0x1FF);
        }
    }
    return out;
}

TEST(DwtPackets, SamplesAndExceptionTracesHaveTheirExactBytes) {
    TraceConfig config = quietTarget();
    config.pcProfile = PcProfile{{{0x08000240, 0x08000242, 1.0, "one halfword"}}, 0, 1};
    config.exceptions = {ExceptionSource{300, 1000000, 100, 1000}};  // 300 needs bit 8
    TraceUnit unit(config);
    start(unit, sampling(true, 0, 0) | kExceptionTrace, kTimedDwtTcr);
    unit.advance(30, kRunning);  // 2160 cycles: samples at 1024 and 2048
    EXPECT_EQ(
        "0E 2C 11 C0 E8 07 "        // entered 300 at 1000
        "17 40 02 00 08 C0 18 "     // PC 0x08000240 at 1024
        "0E 2C 21 C0 4C "           // exited 300 at 1100
        "0E 00 30 "                 // returned to thread mode, no time passed
        "17 40 02 00 08 C0 B4 07",  // at 2048
        hex(unit.takeSwo()));

    config.pcProfile->sleepShare = 1;
    TraceUnit asleep(config);
    start(asleep, sampling(true, 0, 0));
    asleep.advance(15, kRunning);
    EXPECT_EQ("15 00", hex(asleep.takeSwo()));
}

TEST(DwtPcSampling, PeriodFollowsCyctapPostpresetAndPostinit) {
    const struct {
        const char* name;
        uint32_t dwtCtrl;
        uint32_t cyccnt;  // at the start
        uint64_t first;   // cycle of the first sample
        uint64_t period;
    } rows[] = {
        {"CYCTAP 0, POSTPRESET 0", sampling(false, 0, 0), 0, 64, 64},
        {"CYCTAP 0, POSTPRESET 15", sampling(false, 15, 15), 0, 1024, 1024},
        {"CYCTAP 1, POSTPRESET 0", sampling(true, 0, 0), 0, 1024, 1024},
        {"CYCTAP 1, POSTPRESET 15", sampling(true, 15, 15), 0, 16384, 16384},
        {"POSTINIT 0 below POSTPRESET 3", sampling(true, 3, 0), 0, 1024, 4096},
        {"POSTINIT 5 above POSTPRESET 2", sampling(false, 2, 5), 0, 384, 192},
        {"taps at CYCCNT bit 6 changes, not 64 cycles from the start", sampling(false, 1, 1), 40,
         88, 128},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TraceConfig config = quietTarget();
        config.traceClockHz = 4 * config.coreClockHz;  // a line fast enough for every sample
        TraceUnit unit(config);
        start(unit, dwt::ctrl::kCyccntena, kTimedDwtTcr);
        unit.write32(dwt::kCyccnt, row.cyccnt, 0);
        unit.write32(dwt::kCtrl, row.dwtCtrl, 0);
        const uint64_t cycles = 1000 * kCyclesPerUs;
        unit.advance(1000, kRunning);
        const uint64_t count = 1 + (cycles - row.first) / row.period;
        EXPECT_EQ(count, unit.record().pcSamplePackets);
        unit.advance(1001, kRunning);  // the last one out of the pin
        const std::vector<Timed> samples = timedDwtPackets(unit.takeSwo());
        ASSERT_GE(samples.size(), count);
        for (size_t i = 0; i < count; ++i) {
            ASSERT_EQ(row.first + i * row.period, samples[i].cycle) << "sample " << i;
        }
        EXPECT_EQ(0u, unit.record().dwtPacketsLost);
    }
}

TEST(DwtPcSampling, SamplesFollowTheProfilesWeightsAndSleepShare) {
    TraceConfig config = quietTarget();
    config.pcProfile = PcProfile{{{0x08000100, 0x08000180, 5, "heavy"},
                                  {0x08000180, 0x080001C2, 3, "medium"},
                                  {0x08000400, 0x08000500, 0, "never"},
                                  {0x20000000, 0x20000010, 2, "outside the code"}},
                                 0.2,
                                 7};
    const std::vector<double> expected = {0.4, 0.24, 0, 0.16};
    const uint64_t samples = 100000;
    auto capture = [&](const TraceConfig& c) {
        TraceUnit unit(c);
        start(unit, sampling(false, 0, 0));
        unit.advance(samples * 64 / kCyclesPerUs + 2, kRunning);
        std::vector<tracetest::Packet> packets = tracetest::splitItm(unit.takeSwo());
        packets.resize(std::min<size_t>(packets.size(), samples));
        return packets;
    };

    std::vector<uint64_t> inRange(expected.size());
    uint64_t asleep = 0, total = 0;
    const std::vector<tracetest::Packet> packets = capture(config);
    for (const tracetest::Packet& p : packets) {
        ASSERT_TRUE(p.kind == Kind::Hardware && isPcSample(p)) << "at " << p.offset;
        ++total;
        if (p.size == 1) {
            ++asleep;
            continue;
        }
        ASSERT_EQ(0u, p.value % 2) << "Thumb code lies on halfwords";
        size_t r = 0;
        while (r < expected.size() && !(p.value >= config.pcProfile->ranges[r].start &&
                                        p.value < config.pcProfile->ranges[r].end)) {
            ++r;
        }
        ASSERT_LT(r, expected.size()) << std::hex << p.value << " is in no range";
        ++inRange[r];
    }
    ASSERT_EQ(samples, total);
    EXPECT_NEAR(0.2, static_cast<double>(asleep) / total, 0.005);
    for (size_t r = 0; r < expected.size(); ++r) {
        EXPECT_NEAR(expected[r], static_cast<double>(inRange[r]) / total, 0.005)
            << config.pcProfile->ranges[r].name;
    }

    auto values = [](const std::vector<tracetest::Packet>& list) {
        std::vector<uint32_t> out;
        for (const tracetest::Packet& p : list) {
            out.push_back(p.size == 1 ? 0 : p.value);
        }
        return out;
    };
    EXPECT_EQ(values(packets), values(capture(config))) << "the same seed draws the same samples";
    config.pcProfile->seed = 8;
    EXPECT_NE(values(packets), values(capture(config)));
}

TEST(DwtPcSampling, WithoutAProfileTheCoresPcOrTheSleepForm) {
    TraceConfig config = quietTarget();
    config.dwt.countsInSleep = true;
    TraceUnit unit(config);
    unit.setPcSource([] { return 0x08000242u; });
    start(unit, sampling(true, 0, 0));
    unit.advance(15, kRunning);  // a sample at 1024
    unit.activityChanged(15, tracetest::kSleeping);
    unit.advance(30, tracetest::kSleeping);  // and at 2048
    EXPECT_EQ("17 42 02 00 08 15 00", hex(unit.takeSwo()));
}

TEST(DwtExceptionTrace, EntriesComeEveryPeriodExitsAfterTheDurationAndHaltsPauseThem) {
    TraceConfig config = quietTarget();
    config.exceptions = {ExceptionSource{15, 7200, 720, {}}};
    TraceUnit unit(config);
    start(unit, kExceptionTrace, kTimedDwtTcr);
    unit.advance(1000, kRunning);
    unit.activityChanged(1000, tracetest::kHalted);
    unit.advance(2000, tracetest::kHalted);
    unit.activityChanged(2000, kRunning);
    unit.advance(2101, kRunning);

    std::vector<ExceptionStep> expected;
    for (uint64_t k = 1; k <= 10; ++k) {
        expected.emplace_back(7200 * k, 'E', 15);
        if (k < 10) {
            expected.emplace_back(7200 * k + 720, 'X', 15);
            expected.emplace_back(7200 * k + 720, 'R', 0);
        }
    }
    // The tenth entry came at 1 ms, when the core halted; its handler resumes 1 ms later.
    const uint64_t halted = 1000 * kCyclesPerUs;
    expected.emplace_back(72000 + 720 + halted, 'X', 15);
    expected.emplace_back(72000 + 720 + halted, 'R', 0);
    expected.emplace_back(79200 + halted, 'E', 15);
    EXPECT_EQ(expected, exceptionSteps(unit.takeSwo()));
}

TEST(DwtExceptionTrace, PreemptionReturnsToThePreemptedHandlerAndPendingOnesTailChain) {
    TraceConfig config = quietTarget();
    const uint64_t once = 1000000;  // no second entry within the test
    config.exceptions = {
        {16, once, 500, 1000, 2},
        {17, once, 100, 1200, 1},  // preempts 16
        {18, once, 50, 1100, 3},   // waits behind 16, and behind 19 of a higher priority
        {19, once, 40, 1300, 2},   // pending as 17 exits, but no higher than 16 it returns to
    };
    TraceUnit unit(config);
    start(unit, kExceptionTrace, kTimedDwtTcr);
    unit.advance(30, kRunning);
    const std::vector<ExceptionStep> expected = {
        {1000, 'E', 16}, {1200, 'E', 17}, {1300, 'X', 17}, {1300, 'R', 16}, {1600, 'X', 16},
        {1600, 'E', 19}, {1640, 'X', 19}, {1640, 'E', 18}, {1690, 'X', 18}, {1690, 'R', 0},
    };
    EXPECT_EQ(expected, exceptionSteps(unit.takeSwo()));
}

TEST(DwtPackets, AnOverloadedLineOverflows) {
    TraceUnit unit(quietTarget());
    start(unit, sampling(false, 0, 0), kDwtTcr, 35);  // 5 bytes every 64 cycles; 360 a byte
    unit.advance(10000, kRunning);
    const TraceRecord& record = unit.record();
    const uint64_t due = 10000 * kCyclesPerUs / 64;
    EXPECT_GT(record.dwtPacketsLost, due / 2);
    EXPECT_EQ(due, record.pcSamplePackets + record.dwtPacketsLost);
    EXPECT_EQ((10000 * kCyclesPerUs - 64) / 360, record.bytesSent) << "the line never idles";
    unit.write32(dwt::kCtrl, 0, 10000);
    unit.advance(10100, kRunning);  // the FIFO drains
    uint64_t overflows = 0;
    for (const tracetest::Packet& p : tracetest::splitItm(record.pinBytes)) {
        ASSERT_TRUE(p.kind == Kind::Hardware || p.kind == Kind::Overflow) << "at " << p.offset;
        overflows += p.kind == Kind::Overflow;
    }
    EXPECT_GT(overflows, 0u);
    EXPECT_EQ(record.overflowPackets, overflows);
}

TEST(DwtPackets, NothingWithoutTheEnablesOrWhileTheCoreDoesNotRun) {
    const struct {
        const char* name;
        CoreActivity activity;
        uint32_t tcr;
        uint32_t dwtCtrl;
        bool tracePackets;  // DWT_CTRL.NOTRCPKT clear
    } rows[] = {
        {"halted", tracetest::kHalted, kDwtTcr, sampling(false, 0, 0) | kExceptionTrace, true},
        {"without TRCENA", tracetest::kRunningNoTrcena, kDwtTcr,
         sampling(false, 0, 0) | kExceptionTrace, true},
        {"without DWTENA", kRunning, itm::kTcrItmEna, sampling(false, 0, 0) | kExceptionTrace,
         true},
        {"without ITMENA", kRunning, itm::kTcrTxEna, sampling(false, 0, 0) | kExceptionTrace, true},
        {"without PCSAMPLENA and EXCTRCENA", kRunning, kDwtTcr, dwt::ctrl::kCyccntena, true},
        {"a DWT without trace packets", kRunning, kDwtTcr, sampling(false, 0, 0) | kExceptionTrace,
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TraceConfig config = quietTarget();
        config.exceptions = {ExceptionSource{15, 720, 72, {}}};
        config.dwt.tracePackets = row.tracePackets;
        TraceUnit unit(config);
        start(unit, row.dwtCtrl, row.tcr);
        unit.activityChanged(0, row.activity);
        unit.advance(1000, row.activity);
        EXPECT_EQ("", hex(unit.takeSwo()));
        EXPECT_EQ(0u, unit.record().pcSamplePackets + unit.record().exceptionPackets);
    }
}

}  // namespace
}  // namespace dravik::sim
