// Profiling from end to end: a bench target whose PC samples follow weights given to the test
// firmware's functions and which takes two periodic exceptions, captured through the library
// with the DWT set up through the device object, decoded and profiled. The profile must give
// back what the bench was told.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CaptureFixture.h"
#include "ProfileTestSupport.h"
#include "dravik/itm/Decoder.h"
#include "dravik/profile/Profiler.h"
#include "dravik/profile/SamplingSetup.h"
#include "dravik/profile/WeightedRanges.h"

namespace dravik::test {
namespace {

constexpr uint32_t kItmTcr = 0xE0000E80;
constexpr uint32_t kItmTcrItmEna = 1u << 0;
constexpr uint32_t kItmTcrTsEna = 1u << 1;
constexpr double kCoreClockHz = kTraceClockHz;
constexpr int kPrescaler8Mbps = 9;
constexpr uint64_t kPollUs = 2000;
constexpr uint64_t kSamplesWanted = 100000;

struct Expected {
    const char* name;  // a function, or "" for the range outside every function
    double share;      // of all samples
};

// The packets of a stream with the target time of each, in timestamp ticks: a local timestamp
// follows the packet it times, and a packet without one came with the one before it.
class PacketTimes {
  public:
    template <typename Sink>
    void add(const itm::Packet& packet, Sink&& sink) {
        const bool timestamp = packet.kind == itm::PacketKind::LocalTimestamp1 ||
                               packet.kind == itm::PacketKind::LocalTimestamp2;
        if (timestamp) {
            ticks_ += packet.value;
        }
        if (held_) {
            sink(*held_, ticks_);
            held_.reset();
        }
        if (!timestamp) {
            held_ = packet;
        }
    }

  private:
    std::optional<itm::Packet> held_;
    uint64_t ticks_ = 0;
};

class ProfileCaptureTest : public CaptureTest {
  protected:
    // DWT_CTRL as dwtCtrlWrites() asks, each write read back through the device object; then
    // ITM_TCR.DWTENA, with timestamps for the exception times.
    void SetUpDwt(const profile::PcSampling& sampling) {
        DbgDev* dev = GetDbgDev();
        ASSERT_NE(nullptr, dev);
        unsigned ctrl = 0;
        ASSERT_EQ(0, ReadDebugRegister(*dev, profile::dwt::kCtrl, "DWT_CTRL", &ctrl));
        ASSERT_EQ("", profile::dwtCapabilityError(ctrl, true, true));
        for (const profile::RegisterWrite& w : profile::dwtCtrlWrites(ctrl, sampling, true)) {
            ASSERT_EQ(0, WriteDebugRegister(*dev, profile::dwt::kCtrl, "DWT_CTRL", w.value));
            ASSERT_EQ(0, ReadDebugRegister(*dev, profile::dwt::kCtrl, "DWT_CTRL", &ctrl));
            ASSERT_EQ(w.value & w.checkMask, ctrl & w.checkMask);
        }
        const uint32_t tcr = kItmTcrItmEna | kItmTcrTsEna | profile::dwt::kItmTcrDwtEna;
        ASSERT_EQ(0, ReadWriteCheckDebugRegister(*dev, kItmTcr, "ITM_TCR", tcr, tcr)) << g_errorMsg;
    }
};

TEST_F(ProfileCaptureTest, TheProfileGivesBackTheBenchsWeightsAndExceptions) {
    DRAVIK_NEEDS_FIRMWARE();
    profile::SymbolTable symbols;
    std::string error;
    ASSERT_TRUE(symbols.load(profile::test::firmwareFile("profile_target.elf"), error)) << error;

    // Weights out of 100; the other 15 are sleep samples.
    const std::vector<std::pair<std::string, double>> weights = {
        {"work_heavy", 40}, {"work_medium", 20}, {"work_light", 10}, {"checksum", 10}};
    std::vector<profile::WeightedRange> ranges;
    ASSERT_TRUE(profile::weightedRanges(symbols, weights, ranges, error)) << error;
    sim::PcProfile pcProfile;
    for (const profile::WeightedRange& r : ranges) {
        pcProfile.ranges.push_back({r.start, r.end, r.weight, r.function});
    }
    pcProfile.ranges.push_back({0x20000000, 0x20000100, 5, "in RAM, outside every function"});
    pcProfile.sleepShare = 0.15;
    const Expected expected[] = {
        {"work_heavy", 0.40}, {"work_medium", 0.20}, {"work_light", 0.10}, {"checksum", 0.10}};
    constexpr double kUnknownShare = 0.05;

    sim::ProbeConfig probe;
    probe.target.trace.program = sim::IdleTraceProgram{};
    probe.target.trace.recordPinBytes = false;
    probe.target.trace.pcProfile = pcProfile;
    const uint64_t kSysTickPeriod = 72000, kSysTickDuration = 720;  // 1 kHz, 10 us
    const uint64_t kIrqPeriod = 180000, kIrqDuration = 3600;        // 400 Hz, 50 us
    probe.target.trace.exceptions = {{15, kSysTickPeriod, kSysTickDuration, {}, 0},
                                     {16, kIrqPeriod, kIrqDuration, {}, 0}};
    UseProbe(probe);

    // Every 2048 cycles: 35156 samples/s, about 280 kB/s of the 8 Mbit/s line.
    const std::optional<profile::PcSampling> sampling =
        profile::choosePcSampling(kTraceClockHz, 35156.25, error);
    ASSERT_TRUE(sampling) << error;
    ASSERT_EQ(2048u, sampling->cyclesPerSample);

    ASSERT_EQ(0, Select()) << g_errorMsg;
    ASSERT_EQ(0, SetUpTrace(DRAVIK_TX_NRZ, kPrescaler8Mbps)) << g_errorMsg;
    SetUpDwt(*sampling);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(0, DravikRunDevice(&status_)) << g_errorMsg;
    const uint64_t startUs = bench().clock.nowUs();

    profile::ProfilerOptions options;
    options.timestampHz = kCoreClockHz;
    profile::Profiler profiler(symbols, options);
    itm::Decoder decoder;
    PacketTimes times;
    uint64_t samples = 0;
    auto take = [&](const itm::Packet& packet, uint64_t ticks) {
        profiler.add(packet, ticks);
        samples += packet.kind == itm::PacketKind::PeriodicPc ||
                   packet.kind == itm::PacketKind::PeriodicPcSleep;
    };
    for (int poll = 0; poll < 2000 && samples < kSamplesWanted; ++poll) {
        bench().clock.advance(kPollUs);
        captured_.clear();
        ASSERT_EQ(0, Poll()) << g_errorMsg;
        decoder.feed(captured_.data(), captured_.size(),
                     [&](const itm::Packet& packet) { times.add(packet, take); });
    }
    const double seconds = static_cast<double>(bench().clock.nowUs() - startUs) / 1e6;
    const profile::ProfileReport report = profiler.takeInterval(seconds);

    ASSERT_GE(report.samples, kSamplesWanted);
    EXPECT_EQ(0u, report.overflows);
    EXPECT_EQ(0u, decoder.stats().discardedBytes);
    for (const Expected& e : expected) {
        double share = 0;
        for (const profile::FunctionShare& f : report.functions) {
            share = f.name == e.name ? f.share : share;
        }
        EXPECT_NEAR(e.share, share, 0.02) << e.name;
    }
    EXPECT_NEAR(pcProfile.sleepShare, report.sleepShare, 0.02);
    EXPECT_NEAR(kUnknownShare, report.unknownShare, 0.02);

    const struct {
        unsigned number;
        double perSecond;
        double meanSeconds;
    } exceptions[] = {
        {15, kCoreClockHz / kSysTickPeriod, kSysTickDuration / kCoreClockHz},
        {16, kCoreClockHz / kIrqPeriod, kIrqDuration / kCoreClockHz},
    };
    ASSERT_EQ(2u, report.exceptions.size());
    for (size_t i = 0; i < 2; ++i) {
        const profile::ExceptionSummary& got = report.exceptions[i];
        SCOPED_TRACE(got.name);
        EXPECT_EQ(exceptions[i].number, got.number);
        EXPECT_NEAR(exceptions[i].perSecond, got.perSecond, 0.05 * exceptions[i].perSecond);
        ASSERT_TRUE(got.meanSeconds.has_value());
        EXPECT_NEAR(exceptions[i].meanSeconds, *got.meanSeconds, 0.05 * exceptions[i].meanSeconds);
    }
}

}  // namespace
}  // namespace dravik::test
