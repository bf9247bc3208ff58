#include <gtest/gtest.h>

#include <cmath>

#include "dravik/profile/SamplingSetup.h"

namespace dravik::profile {
namespace {

struct RateCase {
    uint32_t clockHz;
    double requested;
    bool cycTap;
    uint32_t postPreset;
    const char* description;
};

TEST(PcSampling, ChoosesThePeriodClosestToTheRequestedRate) {
    const RateCase cases[] = {
        // The fastest: every 64 cycles.
        {72000000, 1125000, false, 0,
         "1125000 samples/s (every 64 cycles at 72000000 Hz: CYCTAP 0, POSTPRESET 0), 1125000 "
         "requested, +0.000 %"},
        // 1028.6 cycles wanted: 1024 beats 1088, and takes CYCTAP 1 rather than 16 x 64.
        {72000000, 70000, true, 0,
         "70312.5 samples/s (every 1024 cycles at 72000000 Hz: CYCTAP 1, POSTPRESET 0), 70000 "
         "requested, +0.446 %"},
        // 7200 cycles wanted: 7 x 1024 beats 8 x 1024.
        {72000000, 10000, true, 6,
         "10044.643 samples/s (every 7168 cycles at 72000000 Hz: CYCTAP 1, POSTPRESET 6), 10000 "
         "requested, +0.446 %"},
        // 160 cycles wanted at 16 MHz: 192 is closer in rate than 128.
        {16000000, 100000, false, 2,
         "83333.333 samples/s (every 192 cycles at 16000000 Hz: CYCTAP 0, POSTPRESET 2), 100000 "
         "requested, -16.667 %"},
        // Halfway in rate between 64 and 128 cycles: the slower one.
        {64000000, 750000, false, 1,
         "500000 samples/s (every 128 cycles at 64000000 Hz: CYCTAP 0, POSTPRESET 1), 750000 "
         "requested, -33.333 %"},
        // The slowest: every 16384 cycles.
        {48000000, 2929.6875, true, 15,
         "2929.688 samples/s (every 16384 cycles at 48000000 Hz: CYCTAP 1, POSTPRESET 15), "
         "2929.688 requested, +0.000 %"},
    };
    for (const RateCase& c : cases) {
        SCOPED_TRACE(c.description);
        std::string error;
        const std::optional<PcSampling> s = choosePcSampling(c.clockHz, c.requested, error);
        ASSERT_TRUE(s.has_value()) << error;
        EXPECT_EQ(s->cycTap, c.cycTap);
        EXPECT_EQ(s->postPreset, c.postPreset);
        EXPECT_EQ(s->cyclesPerSample, (c.postPreset + 1) * (c.cycTap ? 1024u : 64u));
        EXPECT_EQ(s->samplesPerSecond, static_cast<double>(c.clockHz) / s->cyclesPerSample);
        EXPECT_EQ(describePcSampling(*s), c.description);
    }
}

TEST(PcSampling, RefusesWhatTheClockCannotReach) {
    const struct {
        uint32_t clockHz;
        double requested;
        const char* message;
    } cases[] = {
        {72000000, 1200000,
         "PC sampling at 72000000 Hz runs at 4394.531 to 1125000 samples/s; 1200000 requested"},
        {72000000, 4000,
         "PC sampling at 72000000 Hz runs at 4394.531 to 1125000 samples/s; 4000 requested"},
        {72000000, 0,
         "PC sampling at 72000000 Hz runs at 4394.531 to 1125000 samples/s; 0 requested"},
        {72000000, std::nan(""),
         "PC sampling at 72000000 Hz runs at 4394.531 to 1125000 samples/s; nan requested"},
        {0, 1000, "PC sampling needs the core clock"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(choosePcSampling(c.clockHz, c.requested, error).has_value());
        EXPECT_EQ(error, c.message);
    }
}

TEST(DwtSetup, WritesTheCounterFirstThenEnablesSamplingKeepingOtherFields) {
    std::string error;
    const std::optional<PcSampling> every7168 = choosePcSampling(72000000, 10000, error);
    ASSERT_TRUE(every7168.has_value());
    const std::optional<PcSampling> every64 = choosePcSampling(72000000, 1125000, error);
    ASSERT_TRUE(every64.has_value());
    const struct {
        const char* what;
        uint32_t current;
        std::optional<PcSampling> pc;
        bool exceptions;
        std::vector<RegisterWrite> writes;
    } cases[] = {
        // NUMCOMP 4 stays; CYCCNTENA, POSTPRESET 6, POSTINIT 6, CYCTAP; then PCSAMPLENA and
        // EXCTRCENA.
        {"sampling and exceptions",
         0x40000000,
         every7168,
         true,
         {{0x400002CD, 0x0000121F}, {0x400112CD, 0x0001121F}}},
        // Sampling that was on is turned off while POSTINIT is written; SYNCTAP (bits 11:10)
        // and the event counters (bit 17) stay.
        {"sampling over an older setup",
         0x40021FFF,
         every64,
         false,
         {{0x40020C01, 0x0000121F}, {0x40021C01, 0x0000121F}}},
        {"exceptions only", 0x40000001, std::nullopt, true, {{0x40010001, 0x00010000}}},
        {"nothing", 0x40000001, std::nullopt, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<RegisterWrite> writes = dwtCtrlWrites(c.current, c.pc, c.exceptions);
        ASSERT_EQ(writes.size(), c.writes.size());
        for (size_t i = 0; i < writes.size(); ++i) {
            EXPECT_EQ(writes[i].value, c.writes[i].value) << std::hex << writes[i].value;
            EXPECT_EQ(writes[i].checkMask, c.writes[i].checkMask)
                << std::hex << writes[i].checkMask;
        }
    }
}

TEST(DwtSetup, SaysWhatTheUnitLacks) {
    const uint32_t noPackets = dwt::kNoTrcPkt;
    const uint32_t noCounter = dwt::kNoCycCnt;
    EXPECT_EQ(dwtCapabilityError(0x40000000, true, true), "");
    EXPECT_EQ(dwtCapabilityError(noPackets, false, true),
              "the DWT cannot send trace packets (DWT_CTRL.NOTRCPKT is set)");
    EXPECT_EQ(dwtCapabilityError(noCounter, true, false),
              "the DWT has no cycle counter to sample the PC with (DWT_CTRL.NOCYCCNT is set)");
    EXPECT_EQ(dwtCapabilityError(noCounter, false, true), "");
    EXPECT_EQ(dwtCapabilityError(noPackets | noCounter, false, false), "");
}

TEST(SwoLoad, EstimatesTheBytesAgainstTheLine) {
    const struct {
        SwoLoadRequest request;
        double bytesPerSecond;
        SwoLoad::Verdict verdict;
        const char* description;
    } cases[] = {
        // 2 Mbit/s carries 200 kB/s; a PC sample is 5 bytes.
        {{2e6, 10000, 0, 0, 0},
         50000,
         SwoLoad::Verdict::Fits,
         "about 50.0 kB/s of the line's 200.0 kB/s (25.0 %)"},
        {{2e6, 20000, 0, 0, 0},
         100000,
         SwoLoad::Verdict::Fits,
         "about 100.0 kB/s of the line's 200.0 kB/s (50.0 %)"},
        {{2e6, 30000, 0, 0, 0},
         150000,
         SwoLoad::Verdict::Heavy,
         "about 150.0 kB/s of the line's 200.0 kB/s (75.0 %)"},
        {{2e6, 50000, 0, 0, 0},
         250000,
         SwoLoad::Verdict::Overloads,
         "about 250.0 kB/s of the line's 200.0 kB/s (125.0 %)"},
        // An exception is three packets of 3 bytes; other trace adds its own.
        {{2e6, 0, 1000, 1000, 0},
         10000,
         SwoLoad::Verdict::Fits,
         "about 10.0 kB/s of the line's 200.0 kB/s (5.0 %)"},
        // Timestamps: 10000 packets/s at 72 MHz are 7200 ticks apart: 3 bytes each.
        {{2e6, 10000, 0, 0, 72e6},
         80000,
         SwoLoad::Verdict::Fits,
         "about 80.0 kB/s of the line's 200.0 kB/s (40.0 %)"},
        {{0, 100, 0, 0, 0},
         500,
         SwoLoad::Verdict::Overloads,
         "about 0.5 kB/s of the line's 0.0 kB/s (inf %)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const SwoLoad load = estimateSwoLoad(c.request);
        EXPECT_EQ(load.bytesPerSecond, c.bytesPerSecond);
        EXPECT_EQ(load.verdict, c.verdict);
        EXPECT_EQ(describeSwoLoad(load), c.description);
    }
}

TEST(SwoLoad, LocalTimestampsGrowSevenBitsAByte) {
    const std::pair<uint64_t, unsigned> sizes[] = {
        {0, 1},     {6, 1},     {7, 2},       {127, 2},     {128, 3},
        {16383, 3}, {16384, 4}, {2097151, 4}, {2097152, 5}, {uint64_t{1} << 40, 5},
    };
    for (const auto& [ticks, bytes] : sizes) {
        EXPECT_EQ(localTimestampBytes(ticks), bytes) << ticks;
    }
}

}  // namespace
}  // namespace dravik::profile
