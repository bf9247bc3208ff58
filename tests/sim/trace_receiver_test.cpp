// The probe's receiver model: exact bytes when its rate matches the line within tolerance and it
// decodes the line's encoding; deterministic garbage of about the sampled length otherwise.

#include <gtest/gtest.h>

#include "target/trace/SwoReceiver.h"
#include "trace_test_support.h"

namespace dravik::sim {
namespace {

using namespace trace;
using Bytes = std::vector<uint8_t>;

SwoLine line(SwoEncoding encoding, uint32_t prescaler, uint32_t clockHz = 72000000) {
    return SwoLine{encoding, clockHz, prescaler};
}

Bytes ramp(size_t count) {
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    return bytes;
}

TEST(SwoReceiver, DecodesWithinTolerance) {
    const SwoLine nrz2M = line(SwoEncoding::Nrz, 36);
    const SwoLine manchester1M = line(SwoEncoding::Manchester, 36);
    const struct {
        const char* name;
        SwoReceiverConfig receiver;
        SwoLine line;
        bool decodes;
    } cases[] = {
        {"exact", {2000000}, nrz2M, true},
        {"3 % fast", {2060000}, nrz2M, true},
        {"just over 3 % fast", {2060001}, nrz2M, false},
        {"3 % slow", {1940000}, nrz2M, true},
        {"just over 3 % slow", {1939999}, nrz2M, false},
        {"half", {1000000}, nrz2M, false},
        {"off", {0}, nrz2M, false},
        {"truncated rate of an uneven divider", {10285714}, line(SwoEncoding::Nrz, 7), true},
        {"wider tolerance", {2100000, SwoEncoding::Nrz, 50}, nrz2M, true},
        {"UART on Manchester at its data rate", {1000000}, manchester1M, false},
        {"UART on Manchester at its clock", {2000000}, manchester1M, false},
        {"Manchester receiver", {1000000, SwoEncoding::Manchester}, manchester1M, true},
        {"Manchester receiver on NRZ", {2000000, SwoEncoding::Manchester}, nrz2M, false},
        {"no protocol", {2000000}, line(SwoEncoding::None, 36), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SwoReceiver::decodes(c.receiver, c.line), c.decodes) << c.name;
    }
}

TEST(SwoReceiver, MatchingRateGivesTheBytesUnchanged) {
    for (uint32_t rate : {2000000u, 2050000u, 1950000u}) {
        SwoReceiver receiver(rate);
        const Bytes sent = ramp(1000);
        EXPECT_EQ(receiver.receive(line(SwoEncoding::Nrz, 36), sent), sent) << rate;
        EXPECT_EQ(receiver.garbageBytes(), 0u);
    }
}

TEST(SwoReceiver, MismatchGivesGarbageOfTheSampledLength) {
    const struct {
        uint32_t rate;
        SwoLine line;
        size_t received;
    } cases[] = {
        {1000000, line(SwoEncoding::Nrz, 36), 500},
        {4000000, line(SwoEncoding::Nrz, 36), 2000},
        {115200, line(SwoEncoding::Nrz, 36), 57},            // 1000 * 0.0576
        {2000000, line(SwoEncoding::Manchester, 36), 2000},  // Manchester data rate 1 Mbit/s
        {2100000, line(SwoEncoding::Nrz, 36), 1050},
    };
    const Bytes sent = ramp(1000);
    for (const auto& c : cases) {
        SwoReceiver receiver(c.rate);
        const Bytes got = receiver.receive(c.line, sent);
        ASSERT_EQ(got.size(), c.received) << c.rate;
        EXPECT_EQ(receiver.garbageBytes(), c.received);
        const size_t common = std::min(got.size(), sent.size());
        size_t same = 0;
        for (size_t i = 0; i < common; ++i) {
            same += got[i] == sent[i];
        }
        EXPECT_LT(same, common / 20 + 2) << "garbage resembles the input at " << c.rate;
    }
}

TEST(SwoReceiver, GarbageIsDeterministicAndIndependentOfChunking) {
    const Bytes sent = ramp(777);
    const SwoLine nrz = line(SwoEncoding::Nrz, 36);
    SwoReceiver whole(1300000);
    const Bytes once = whole.receive(nrz, sent);

    SwoReceiver bytewise(1300000);
    Bytes pieces;
    for (uint8_t b : sent) {
        bytewise.receive(nrz, &b, 1, pieces);
    }
    EXPECT_EQ(pieces, once);

    SwoReceiver again(1300000);
    EXPECT_EQ(again.receive(nrz, sent), once);
    again.restart();
    EXPECT_EQ(again.receive(nrz, sent), once);

    SwoReceiver other(1310000);
    EXPECT_NE(other.receive(nrz, sent), once);
}

TEST(SwoReceiver, SegmentsAreReadWithTheirOwnLineSettings) {
    SwoReceiver receiver(2000000);
    const Bytes a = ramp(10);
    const Bytes b = ramp(20);
    std::vector<SwoSegment> segments = {{line(SwoEncoding::Nrz, 36), a},
                                        {line(SwoEncoding::Nrz, 72), b},
                                        {line(SwoEncoding::Nrz, 36), a}};
    Bytes got;
    receiver.receive(segments, got);
    ASSERT_EQ(got.size(), 10u + 40u + 10u);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 10), a);
    EXPECT_EQ(Bytes(got.end() - 10, got.end()), a);
}

// The whole path: firmware, ITM, TPIU, pin, receiver.
Bytes captureThrough(uint32_t sppr, uint32_t receiverRate, Bytes* emitted) {
    TraceUnit unit;
    tracetest::setUpSwo(unit, {35, sppr});
    SwoReceiver receiver(receiverRate);
    Bytes got;
    for (uint64_t now = 100; now <= 20000; now += 100) {
        unit.advance(now, tracetest::kRunning);
        receiver.receive(unit.takeSwoSegments(), got);
    }
    *emitted = unit.record().pinBytes;
    return got;
}

TEST(SwoReceiver, EndToEndCaptureMatchesWhatThePinSent) {
    Bytes emitted;
    const Bytes got = captureThrough(tpiu::kSpprNrz, 2000000, &emitted);
    ASSERT_GT(emitted.size(), 200u);
    EXPECT_EQ(got, emitted);

    const Bytes slow = captureThrough(tpiu::kSpprNrz, 1800000, &emitted);
    EXPECT_NE(slow, emitted);
    EXPECT_NEAR(static_cast<double>(slow.size()), emitted.size() * 0.9, 1.0);

    const Bytes manchester = captureThrough(tpiu::kSpprManchester, 2000000, &emitted);
    EXPECT_NE(manchester, emitted);
    EXPECT_NEAR(static_cast<double>(manchester.size()), emitted.size() * 2.0, 1.0);
}

}  // namespace
}  // namespace dravik::sim
