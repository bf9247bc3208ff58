#include <gtest/gtest.h>

#include "dravik/swv/HealthWarning.h"
#include "dravik/swv/StreamHealth.h"

namespace dravik::swv {
namespace {

// A span with a packet for every four bytes.
StreamTally tally(uint64_t bytes, uint64_t undecodable, uint64_t unexpected, uint64_t overflows) {
    return StreamTally{bytes, bytes / 4, undecodable, unexpected, overflows};
}

TEST(StreamHealth, JudgesASpanByItsSuspiciousShare) {
    const struct {
        StreamTally span;
        StreamCondition condition;
    } cases[] = {
        {tally(0, 0, 0, 0), StreamCondition::NoTrace},
        // Synchronisation packets only: six bytes each, none counted as a packet.
        {StreamTally{600, 0, 0, 0, 0}, StreamCondition::NoTrace},
        {tally(255, 200, 0, 0), StreamCondition::TooLittle},
        {tally(4096, 0, 0, 0), StreamCondition::Healthy},
        // Just under one suspicious event in twenty bytes, then just at it.
        {tally(4000, 100, 60, 39), StreamCondition::Healthy},
        {tally(4000, 100, 60, 40), StreamCondition::Corrupt},
        // A wrong clock as the bench shows it: 13.6 % undecodable, as many stray packets.
        {tally(11370, 1542, 1570, 33), StreamCondition::Corrupt},
        // Decodes, but lands on ports not enabled (the decoder lost its page).
        {tally(4096, 10, 900, 0), StreamCondition::StrayPorts},
        // Decodes, but the target's ITM keeps overflowing.
        {tally(20167, 0, 0, 3359), StreamCondition::Overflowing},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StreamHealth::judge(c.span), c.condition) << c.span.bytes << " bytes";
    }
}

TEST(StreamHealth, AStreamThatTurnsBadAlarmsOnceAndKeepsTheFirstBadWindow) {
    StreamHealth health;
    StreamTally now;
    unsigned alarms = 0;
    auto feed = [&](uint64_t bytes, uint64_t undecodable) {
        now.bytes += bytes;
        now.packets += bytes / 4;
        now.undecodableBytes += undecodable;
        alarms += health.update(now) ? 1 : 0;
    };
    for (int i = 0; i < 16; ++i) {
        feed(1024, 0);  // 16 KiB of clean trace
    }
    EXPECT_EQ(health.verdict().condition, StreamCondition::Healthy);
    for (int i = 0; i < 3; ++i) {
        feed(1024, 140);  // then garbage
    }
    EXPECT_EQ(alarms, 1u);
    const HealthVerdict verdict = health.verdict();
    EXPECT_EQ(verdict.condition, StreamCondition::Corrupt);
    EXPECT_EQ(verdict.span.bytes, 4096u);
    EXPECT_EQ(verdict.span.undecodableBytes, 280u);
    for (int i = 0; i < 64; ++i) {
        feed(1024, 0);  // clean again: the verdict stays
    }
    EXPECT_EQ(alarms, 1u);
    EXPECT_EQ(health.verdict().condition, StreamCondition::Corrupt);
    // Over the whole run the share is low, but a capture with a corrupt stretch is not healthy.
    EXPECT_EQ(StreamHealth::judge(now), StreamCondition::Healthy);
}

TEST(StreamHealth, ARunShorterThanAWindowIsJudgedWhole) {
    StreamHealth health;
    EXPECT_FALSE(health.update(tally(1000, 300, 0, 0)));  // no window yet: no alarm
    EXPECT_EQ(health.verdict().condition, StreamCondition::Corrupt);
    EXPECT_EQ(health.verdict().span.bytes, 1000u);
}

TEST(HealthWarning, NamesTheCausesAndTheOptionsThatFixThem) {
    HealthAdvice advice;
    advice.clockHz = 48000000;
    advice.prescaler = 24;
    advice.doctor = "dravik-swv doctor --clock 48000000 --prescaler 24";
    const HealthVerdict corrupt{StreamCondition::Corrupt, tally(4096, 557, 622, 3)};
    EXPECT_EQ(healthWarning(corrupt, advice),
              "dravik-swv: warning: the trace does not decode (13.6 % of the bytes formed no "
              "packet, 622 packets on ports not enabled)\n"
              "  likely causes: a wrong SWO rate or encoding\n"
              "  --clock must be the clock the TPIU divides (given: 48000000 Hz / 24)\n"
              "  --mode nrz: the probe's receiver reads NRZ only\n"
              "  check the setup with: dravik-swv doctor --clock 48000000 --prescaler 24\n");
    advice.live = false;
    EXPECT_EQ(
        healthWarning(corrupt, advice),
        "dravik-swv: warning: the trace does not decode (13.6 % of the bytes formed no "
        "packet, 622 packets on ports not enabled)\n"
        "  likely causes: it was captured at a wrong SWO rate or encoding (48000000 Hz / 24)\n"
        "  capture again with --clock the clock the TPIU divides and --mode nrz; dravik-swv "
        "doctor --clock 48000000 --prescaler 24 checks the setup\n");
    const HealthVerdict overflowing{StreamCondition::Overflowing, tally(4096, 0, 0, 682)};
    EXPECT_EQ(healthWarning(overflowing, advice),
              "dravik-swv: warning: the target dropped writes: 682 overflow packets in 4096 bytes\n"
              "  likely causes: it writes faster than the SWO line carries; raise --swo-rate, or "
              "write less\n");
    EXPECT_EQ(healthWarning(HealthVerdict{StreamCondition::Healthy, tally(4096, 0, 0, 0)}, advice),
              "");
}

}  // namespace
}  // namespace dravik::swv
