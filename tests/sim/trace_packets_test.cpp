// Packet encoding: instrumentation packets of every size on various ports, local timestamps and
// synchronisation, and the packets a debugger write to a stimulus port produces on the pin.

#include <gtest/gtest.h>

#include "target/trace/ItmPackets.h"
#include "trace_test_support.h"

namespace dravik::sim {
namespace {

using namespace trace;
using Bytes = std::vector<uint8_t>;

struct InstrumentationCase {
    uint8_t port;
    uint8_t size;
    uint32_t value;
    Bytes bytes;
};

const InstrumentationCase kInstrumentationCases[] = {
    {0, 1, 0x41, {0x01, 0x41}},
    {0, 1, 0xFFFFFF41, {0x01, 0x41}},  // only the low byte goes out
    {1, 2, 0xBEEF, {0x0A, 0xEF, 0xBE}},
    {2, 4, 0x12345678, {0x13, 0x78, 0x56, 0x34, 0x12}},
    {7, 2, 0x00010203, {0x3A, 0x03, 0x02}},
    {16, 1, 0x00, {0x81, 0x00}},
    {31, 4, 0xDEADBEEF, {0xFB, 0xEF, 0xBE, 0xAD, 0xDE}},
};

TEST(ItmPackets, InstrumentationHeaderCarriesPortAndSize) {
    for (const auto& c : kInstrumentationCases) {
        Bytes out;
        appendInstrumentation(out, c.port, c.size, c.value);
        EXPECT_EQ(tracetest::hex(out), tracetest::hex(c.bytes))
            << "port " << int{c.port} << " size " << int{c.size};
    }
}

TEST(ItmPackets, LocalTimestampForms) {
    const struct {
        uint32_t delta;
        Bytes bytes;
    } cases[] = {
        {1, {0x10}},
        {6, {0x60}},
        {7, {0xC0, 0x07}},
        {127, {0xC0, 0x7F}},
        {128, {0xC0, 0x80, 0x01}},
        {72000, {0xC0, 0xC0, 0xB2, 0x04}},
        {0x0FFFFFFF, {0xC0, 0xFF, 0xFF, 0xFF, 0x7F}},
        {0xFFFFFFFF, {0xC0, 0xFF, 0xFF, 0xFF, 0x7F}},  // saturates
        {0, {0x10}},
    };
    for (const auto& c : cases) {
        Bytes out;
        appendLocalTimestamp(out, c.delta);
        EXPECT_EQ(tracetest::hex(out), tracetest::hex(c.bytes)) << c.delta;
    }
}

TEST(ItmPackets, SyncIsFiveZerosAndEighty) {
    Bytes out;
    appendSync(out);
    EXPECT_EQ(tracetest::hex(out), "00 00 00 00 00 80");
}

TraceConfig idleConfig() {
    TraceConfig config;
    config.program = IdleTraceProgram{};
    config.itmFifoBytes = 64;
    return config;
}

TEST(DebuggerStimulusWrite, EmitsAWordPacketOnThePortWritten) {
    TraceUnit unit(idleConfig());
    tracetest::setUpSwo(unit, {}, 0, tracetest::kHalted);
    const struct {
        uint8_t port;
        uint32_t value;
        Bytes bytes;
    } cases[] = {
        {0, 0x64636261, {0x03, 0x61, 0x62, 0x63, 0x64}},
        {5, 0x00000001, {0x2B, 0x01, 0x00, 0x00, 0x00}},
        {31, 0xCAFEF00D, {0xFB, 0x0D, 0xF0, 0xFE, 0xCA}},
    };
    uint64_t now = 0;
    for (const auto& c : cases) {
        ASSERT_TRUE(unit.write32(itm::kStimBase + 4u * c.port, c.value, now));
        now += 100;
        unit.advance(now, tracetest::kHalted);
        EXPECT_EQ(tracetest::hex(unit.takeSwo()), tracetest::hex(c.bytes)) << int{c.port};
    }
    EXPECT_EQ(unit.record().debuggerWrites, 3u);
    EXPECT_EQ(unit.record().instrumentationPackets, 3u);
}

TEST(DebuggerStimulusWrite, IgnoredWhileLockedOrDisabled) {
    const struct {
        const char* name;
        bool unlock;
        tracetest::SwoSetup setup;
        CoreActivity activity;
    } cases[] = {
        {"ITM locked", false, {}, tracetest::kHalted},
        {"ITMENA clear", true, {35, 2, 0xFFFFFFFF, 0}, tracetest::kHalted},
        {"port disabled", true, {35, 2, 0xFFFFFFFE, 1}, tracetest::kHalted},
        {"SPPR parallel", true, {35, 0, 0xFFFFFFFF, 1}, tracetest::kHalted},
        {"SPPR reserved", true, {35, 3, 0xFFFFFFFF, 1}, tracetest::kHalted},
        {"TRCENA clear", true, {}, CoreActivity{false, false, false}},
    };
    for (const auto& c : cases) {
        TraceUnit unit(idleConfig());
        tracetest::setUpSwo(unit, c.setup, 0, c.activity);
        if (!c.unlock) {
            unit.write32(itm::kLar, 0, 0);
        }
        EXPECT_TRUE(unit.write32(itm::kStimBase, 0x11223344, 0)) << c.name;
        unit.advance(1000, c.activity);
        EXPECT_TRUE(unit.takeSwo().empty()) << c.name;
        EXPECT_EQ(unit.record().instrumentationPackets, 0u) << c.name;
        EXPECT_EQ(unit.record().writesLost, 0u) << c.name;
    }
}

TEST(DebuggerStimulusWrite, ManchesterOnlyWhenTheTpiuSupportsIt) {
    for (bool supported : {true, false}) {
        TraceConfig config = idleConfig();
        config.tpiuType = silicon::tpiuType(true, supported, 2);
        TraceUnit unit(config);
        tracetest::setUpSwo(unit, {35, tpiu::kSpprManchester, 1, 1});
        EXPECT_EQ(unit.swoLine().encoding, supported ? SwoEncoding::Manchester : SwoEncoding::None);
        unit.write32(itm::kStimBase, 0x01020304, 0);
        unit.advance(1000, tracetest::kRunning);
        EXPECT_EQ(unit.takeSwo().size(), supported ? 5u : 0u);
    }
}

}  // namespace
}  // namespace dravik::sim
