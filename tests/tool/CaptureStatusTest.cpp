#include <gtest/gtest.h>

#include "dravik/swv/CaptureStatus.h"

namespace dravik::swv {
namespace {

StatusSnapshot sample() {
    StatusSnapshot status;
    status.elapsedSeconds = 12.34;
    status.bytes = 2468000;
    status.bytesPerSecond = 200000;
    status.packets = 123456;
    status.portPackets = {{0, 1000}, {1, 234}};
    status.overflows = 1;
    status.decodeErrors = 2;
    status.hostDrops = 3;
    status.readFailures = 4;
    status.queueDropBytes = 5;
    return status;
}

TEST(CaptureStatus, StatusLineKeepsTheLossesApartAndFirst) {
    EXPECT_EQ(formatStatusLine(sample()),
              "12.3 s  200.0 kB/s  2.5 MB  123456 packets  overflows 1, decode errors 2 B, host "
              "drops 3, read failures 4, queue drops 5 B  |  ports 0:1000 1:234");
    StatusSnapshot some = sample();
    some.overflows = some.hostDrops = some.readFailures = 0;
    EXPECT_EQ(formatStatusLine(some),
              "12.3 s  200.0 kB/s  2.5 MB  123456 packets  decode errors 2 B, queue drops 5 B  |  "
              "ports 0:1000 1:234");
}

TEST(CaptureStatus, StatusLineWithoutPortsOrLosses) {
    StatusSnapshot status;
    EXPECT_EQ(formatStatusLine(status), "0.0 s  0 B/s  0 B  0 packets  no losses");
}

TEST(CaptureStatus, SummaryListsEachPort) {
    EXPECT_EQ(formatSummary(sample(), "captured"),
              "captured 2468000 bytes in 12.3 s (200.0 kB/s), 123456 packets\n"
              "  port 0: 1000 packets\n"
              "  port 1: 234 packets\n"
              "  losses: overflows 1, decode errors 2 B, host drops 3, read failures 4, queue "
              "drops 5 B\n");
}

// Only when it happened, after the losses and before the verdict, which stays the last line.
TEST(CaptureStatus, SummarySaysHowOftenTheProbeBufferWasFull) {
    StatusSnapshot status = sample();
    status.bufferFullPolls = 3;
    status.health = HealthVerdict{StreamCondition::Healthy, {}};
    EXPECT_NE(formatSummary(status, "captured")
                  .find("queue drops 5 B\n"
                        "  probe buffer full 3 times (bytes may be lost)\n"
                        "  health: good\n"),
              std::string::npos)
        << formatSummary(status, "captured");
    EXPECT_EQ(formatStatusLine(status), formatStatusLine(sample()));
}

TEST(CaptureStatus, UnexpectedPortsAreOneLineHoweverManyThereAre) {
    StatusSnapshot status = sample();
    status.unexpectedPorts = {{224, 2}};
    status.unexpectedPackets = 2;
    EXPECT_NE(formatSummary(status, "captured")
                  .find("  port 1: 234 packets\n  unexpected ports: 2 packets on port 224, not "
                        "enabled\n  losses: "),
              std::string::npos);
    EXPECT_NE(formatStatusLine(status).find("  |  ports 0:1000 1:234  unexpected 2"),
              std::string::npos);
    status.unexpectedPorts.clear();
    for (unsigned port = 32; port < 256; ++port) {
        status.unexpectedPorts.emplace_back(port, 1);
    }
    status.unexpectedPackets = 224;
    EXPECT_NE(formatSummary(status, "captured")
                  .find("  unexpected ports: 224 packets on 224 ports (32, 33, 34, 35, 36, 37, "
                        "38, 39, ...), not enabled\n"),
              std::string::npos);
}

TEST(CaptureStatus, SummaryWithoutATimeSpanLeavesTheRateOut) {
    StatusSnapshot status;
    status.bytes = 3;
    status.packets = 1;
    EXPECT_EQ(formatSummary(status, "decoded"),
              "decoded 3 bytes, 1 packets\n"
              "  losses: overflows 0, decode errors 0 B, host drops 0, read failures 0, queue "
              "drops 0 B\n");
}

TEST(CaptureStatus, SnapshotTakesThePortsWithPacketsInOrder) {
    PipelineCounters counters;
    counters.bytes = 10;
    counters.packets = 7;
    counters.portPackets[0] = 2;
    counters.portPackets[3] = 4;
    counters.portPackets[33] = 5;
    counters.enabledMask = 0x1;
    counters.unexpectedPackets = 9;
    counters.overflows = 1;
    counters.decodeErrors = 2;
    counters.probeDrops = 3;
    counters.readFailures = 4;
    counters.queueDropBytes = 6;
    const StatusSnapshot status = snapshotFrom(counters);
    EXPECT_EQ(status.bytes, 10u);
    EXPECT_EQ(status.packets, 7u);
    EXPECT_EQ(status.portPackets, (std::vector<std::pair<unsigned, uint64_t>>{{0, 2}}));
    EXPECT_EQ(status.unexpectedPorts,
              (std::vector<std::pair<unsigned, uint64_t>>{{3, 4}, {33, 5}}));
    EXPECT_EQ(status.unexpectedPackets, 9u);
    EXPECT_EQ(status.overflows, 1u);
    EXPECT_EQ(status.decodeErrors, 2u);
    EXPECT_EQ(status.hostDrops, 3u);
    EXPECT_EQ(status.readFailures, 4u);
    EXPECT_EQ(status.queueDropBytes, 6u);
}

TEST(CaptureStatus, ByteRateUnits) {
    EXPECT_EQ(formatByteRate(0), "0 B/s");
    EXPECT_EQ(formatByteRate(999), "999 B/s");
    EXPECT_EQ(formatByteRate(1000), "1.0 kB/s");
    EXPECT_EQ(formatByteRate(200000), "200.0 kB/s");
    EXPECT_EQ(formatByteRate(7200000), "7.2 MB/s");
    EXPECT_EQ(formatByteCount(2468000), "2.5 MB");
}

TEST(RateMeter, FollowsASteadyRateAndAChangeOfIt) {
    RateMeter meter(1000000);
    EXPECT_EQ(meter.update(0, 0), 0.0);
    uint64_t bytes = 0;
    double rate = 0;
    for (uint64_t t = 250000; t <= 2000000; t += 250000) {
        bytes += 50000;  // 200 kB/s
        rate = meter.update(t, bytes);
    }
    EXPECT_DOUBLE_EQ(rate, 200000.0);
    for (uint64_t t = 2250000; t <= 4000000; t += 250000) {
        rate = meter.update(t, bytes);  // the line went quiet
    }
    EXPECT_DOUBLE_EQ(rate, 0.0);
}

}  // namespace
}  // namespace dravik::swv
