// The firmware's output: the default program's text lines and counter, scripted writes byte for
// byte, the sequence pattern, and when the firmware runs at all.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "target/trace/SequencePattern.h"
#include "trace_test_support.h"

namespace dravik::sim {
namespace {

using namespace trace;
using Bytes = std::vector<uint8_t>;
using tracetest::Packet;

// Per-port payload bytes of the instrumentation packets, in order.
std::map<uint8_t, std::string> payloadByPort(const Bytes& stream) {
    std::map<uint8_t, std::string> ports;
    for (const Packet& p : tracetest::splitItm(stream)) {
        EXPECT_EQ(p.kind, Packet::Kind::Instrumentation) << "at " << p.offset;
        for (uint8_t i = 0; i < p.size; ++i) {
            ports[p.port].push_back(static_cast<char>(p.value >> (8 * i)));
        }
    }
    return ports;
}

TEST(DefaultProgram, NumberedTextLinesOnPort0AndCounterOnPort1) {
    TraceUnit unit;  // 1000 iterations per second
    tracetest::setUpSwo(unit);
    unit.advance(10500, tracetest::kRunning);  // iterations at 0, 1, ..., 10 ms
    const Bytes stream = unit.takeSwo();
    EXPECT_EQ(unit.record().writesLost, 0u);

    const auto ports = payloadByPort(stream);
    ASSERT_EQ(ports.size(), 2u);
    std::string text;
    for (int n = 1; n <= 11; ++n) {
        text += "line " + std::to_string(n) + "\n";
    }
    EXPECT_EQ(ports.at(0), text);

    std::vector<uint32_t> counters;
    for (const Packet& p : tracetest::splitItm(stream)) {
        if (p.port == 1) {
            EXPECT_EQ(p.size, 4);
            counters.push_back(p.value);
        }
    }
    EXPECT_EQ(counters, (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
}

TEST(DefaultProgram, TextUsesWordsThenHalfwordAndByteForTheTail) {
    TraceUnit unit;
    tracetest::setUpSwo(unit);
    unit.advance(500, tracetest::kRunning);  // one iteration: "line 1\n" and counter 1
    EXPECT_EQ(tracetest::hex(unit.takeSwo()),
              "03 6C 69 6E 65 "   // "line"
              "02 20 31 "         // " 1"
              "01 0A "            // "\n"
              "0B 01 00 00 00");  // port 1: 1
}

TEST(DefaultProgram, PortsAndRateAreConfigurable) {
    TraceConfig config;
    config.program = DefaultTraceProgram{100, 3, 9, true};
    TraceUnit unit(config);
    tracetest::setUpSwo(unit);
    unit.advance(25000, tracetest::kRunning);  // iterations at 0, 10 and 20 ms
    const auto ports = payloadByPort(unit.takeSwo());
    EXPECT_EQ(ports.at(3), "line 1\nline 2\nline 3\n");
    EXPECT_EQ(ports.at(9).size(), 12u);
}

TEST(DefaultProgram, FallsBehindInsteadOfLosingOnASlowLine) {
    TraceConfig config;
    config.program = DefaultTraceProgram{10000, 0, 1, true};  // ~20 bytes per 100 us
    TraceUnit unit(config);
    tracetest::setUpSwo(unit, {359});  // 200 kbit/s: 20 bytes per ms
    unit.advance(100000, tracetest::kRunning);
    EXPECT_EQ(unit.record().writesLost, 0u);
    EXPECT_EQ(unit.record().overflowPackets, 0u);
    const auto ports = payloadByPort(unit.takeSwo());
    EXPECT_EQ(ports.at(0).rfind("line 1\nline 2\n", 0), 0u);
    EXPECT_LT(ports.at(1).size(), 1000u * 4) << "the line cannot carry every iteration";
}

TEST(ScriptedProgram, WritesExactlyTheScriptInTimeOrder) {
    TraceConfig config;
    config.program = ScriptedTraceProgram{{
        {300, 2, 4, 0x04030201},
        {100, 0, 1, 0x1FF},
        {100, 1, 2, 0xAABBCC},
        {200, 40, 1, 1},  // no such port: never written
        {200, 3, 3, 1},   // no such size: never written
    }};
    TraceUnit unit(config);
    tracetest::setUpSwo(unit);
    unit.advance(1000, tracetest::kRunning);
    EXPECT_EQ(tracetest::hex(unit.takeSwo()), "01 FF 0A CC BB 13 01 02 03 04");
    EXPECT_EQ(unit.record().instrumentationPackets, 3u);
}

TEST(ScriptedProgram, TimeOffsetsCountAwakeCoreTimeOnly) {
    TraceConfig config;
    config.program = ScriptedTraceProgram{{{100, 0, 1, 0x55}}};
    TraceUnit unit(config);
    tracetest::setUpSwo(unit, {}, 0, tracetest::kHalted);
    unit.advance(1000, tracetest::kHalted);
    unit.advance(1050, tracetest::kRunning);
    unit.advance(2000, tracetest::kSleeping);
    EXPECT_TRUE(unit.takeSwo().empty());
    unit.advance(2049, tracetest::kRunning);  // 99 us awake
    unit.advance(2060, tracetest::kRunning);  // write at 2050 us, two bytes out by 2060 us
    EXPECT_EQ(tracetest::hex(unit.takeSwo()), "01 55");
}

TEST(SequenceProgram, StreamIsTheSequencePattern) {
    TraceConfig config;
    config.program = SequenceTraceProgram{40000, 4, 0, false};
    TraceUnit unit(config);
    tracetest::setUpSwo(unit);
    unit.advance(50000, tracetest::kRunning);
    const Bytes stream = unit.takeSwo();
    EXPECT_EQ(unit.record().writesLost, 0u);
    ASSERT_EQ(stream.size(), 10000u) << "exactly the line's capacity";
    for (size_t j = 0; j < stream.size(); ++j) {
        ASSERT_EQ(stream[j], sequenceStreamByte(4, j)) << "byte " << j;
    }
}

TEST(SequenceProgram, StopsAfterCount) {
    TraceConfig config;
    config.program = SequenceTraceProgram{1000, 0, 3, false};
    TraceUnit unit(config);
    tracetest::setUpSwo(unit);
    unit.advance(100000, tracetest::kRunning);
    EXPECT_EQ(tracetest::hex(unit.takeSwo()), "03 00 00 00 00 03 01 00 00 00 03 02 00 00 00");
}

TEST(ProgramRun, NothingEmittedWhileHaltedOrWithTraceDisabled) {
    const struct {
        const char* name;
        tracetest::SwoSetup setup;
        CoreActivity activity;
    } cases[] = {
        {"halted", {}, tracetest::kHalted},
        {"sleeping", {}, tracetest::kSleeping},
        {"TRCENA clear", {}, tracetest::kRunningNoTrcena},
        {"ITMENA clear", {35, 2, 0xFFFFFFFF, 0}, tracetest::kRunning},
        {"ports 0 and 1 disabled", {35, 2, 0xFFFFFFFC, 1}, tracetest::kRunning},
        {"SPPR parallel", {35, 0, 0xFFFFFFFF, 1}, tracetest::kRunning},
    };
    for (const auto& c : cases) {
        TraceUnit unit;
        tracetest::setUpSwo(unit, c.setup, 0, c.activity);
        unit.advance(20000, c.activity);
        EXPECT_TRUE(unit.takeSwo().empty()) << c.name;
        EXPECT_EQ(unit.record().bytesSent, 0u) << c.name;
        EXPECT_EQ(unit.record().writesLost, 0u) << c.name;
        EXPECT_EQ(unit.queuedBytes(), 0u) << c.name;
    }
}

TEST(ProgramRun, WritesWhileDisabledAreIgnoredAndTheProgramGoesOn) {
    TraceUnit unit;
    tracetest::setUpSwo(unit, {35, 2, 0xFFFFFFFF, 0});
    unit.advance(2500, tracetest::kRunning);  // iterations 1 to 3 while ITMENA is clear
    EXPECT_EQ(unit.record().writesIgnored, 3u * 4);
    unit.write32(itm::kTcr, itm::kTcrItmEna, 2500);
    unit.advance(3500, tracetest::kRunning);
    EXPECT_EQ(payloadByPort(unit.takeSwo()).at(0), "line 4\n");
}

TEST(ProgramRun, RestartProgramStartsTheFirmwareOver) {
    TraceUnit unit;
    tracetest::setUpSwo(unit);
    unit.advance(1500, tracetest::kRunning);
    unit.restartProgram();
    unit.advance(1600, tracetest::kRunning);
    EXPECT_EQ(payloadByPort(unit.takeSwo()).at(0), "line 1\nline 2\nline 1\n");
}

}  // namespace
}  // namespace dravik::sim
