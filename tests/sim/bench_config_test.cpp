// Bench description files: what each key sets, the defaults of what is left out, the texts that
// reject a bad description (naming the key) with the bench left as it was, and a capture against a
// described bench.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "CaptureFixture.h"

namespace dravik::test {
namespace {

class BenchConfigTest : public CaptureTest {};

TEST_F(BenchConfigTest, ExampleFileDescribesTwoProbes) {
    ASSERT_EQ("", bench().configureFromFile(DRAVIK_SOURCE_DIR "/examples/bench-two-probes.json"));
    ASSERT_EQ(2, bench().probeCount());
    const sim::ProbeConfig& first = bench().probe(0).config;
    EXPECT_EQ("DRAVIK-BENCH-0001", first.serial);
    EXPECT_EQ(3, first.generation);
    EXPECT_EQ(sim::kModeDfu, first.initialMode);
    const sim::ProbeConfig& second = bench().probe(1).config;
    EXPECT_EQ("DRAVIK-V2-0042", second.serial);
    EXPECT_EQ(2, second.generation);
    EXPECT_EQ(30, second.jtagVersion);
    EXPECT_EQ(DRAVIK_PRODUCT_ID_V2, second.productId);
    EXPECT_EQ(sim::kModeIdle, bench().probe(1).state.mode);
    EXPECT_EQ(48000000u, second.target.trace.coreClockHz);
    EXPECT_EQ(0x880u, second.target.trace.tpiuType);
    EXPECT_EQ(200u, second.target.resetDurationUs);
    const auto* program = std::get_if<sim::ScriptedTraceProgram>(&second.target.trace.program);
    ASSERT_NE(nullptr, program);
    ASSERT_EQ(3u, program->writes.size());
    EXPECT_EQ(0x6C6C6548u, program->writes[0].value);
    EXPECT_EQ(500u, program->writes[2].timeUs);
    EXPECT_FALSE(bench().clock.manual());
}

TEST_F(BenchConfigTest, EveryKeyReachesItsSetting) {
    const std::string text = R"({
      "clock": {"mode": "manual", "exchangeLatencyUs": 25, "exchangeJitterUs": 7},
      "probes": [{
        "serial": "SN-1", "interface": "tcp", "generation": 2, "jtagVersion": 31,
        "monowireVersion": 5, "productId": "0x0333", "vendorId": 4660, "mode": "monowire",
        "targetAttached": true,
        "target": {
          "cpuid": "0x410FC271", "flash": {"base": 0, "size": 65536},
          "sram": {"base": "0x20000000", "size": 8192},
          "coreClockHz": 16000000, "traceClockHz": 8000000, "tpiuType": "0x0000088C",
          "itmLock": "keyIgnored", "dwt": {"cycleCounter": false, "countsInSleep": true,
          "comparators": 2},
          "itmFifoBytes": 32, "recordPinBytes": false,
          "pcProfile": {"ranges": [{"name": "main", "start": "0x08000100", "end": "0x08000180",
                                    "weight": 2.5}, {"start": 0, "end": 4, "weight": 0}],
                        "sleepShare": 0.25, "seed": 99},
          "exceptions": [{"number": 15, "periodCycles": 16000, "durationCycles": 160,
                          "firstCycles": 0, "priority": 7}, {"number": 300, "periodCycles": 1,
                          "durationCycles": 1}],
          "program": {"kind": "sequence", "writesPerSecond": 5000, "port": 7, "count": 99,
                      "waitForFifoReady": true},
          "resetDurationUs": 1000,
          "scenario": {"staysInReset": true, "lockupAfterReset": "persistent",
                       "neverHalts": true, "sleepsOnVectorCatch": true, "idlesInWfi": true}
        }
      }]
    })";
    ASSERT_EQ("", bench().configureFromJson(text));
    EXPECT_TRUE(bench().clock.manual());
    EXPECT_EQ(25u, bench().clock.exchangeLatencyUs());
    EXPECT_EQ(7u, bench().clock.exchangeJitterUs());
    ASSERT_EQ(1, bench().probeCount());
    const sim::ProbeConfig& p = bench().probe(0).config;
    EXPECT_EQ("SN-1", p.serial);
    EXPECT_EQ(DRAVIK_TCP_INTERFACE, p.iface);
    EXPECT_EQ(2, p.generation);
    EXPECT_EQ(31, p.jtagVersion);
    EXPECT_EQ(5, p.monowireVersion);
    EXPECT_EQ(0x0333, p.productId);
    EXPECT_EQ(0x0333, p.infoProductId) << "the listing shows the same identifiers";
    EXPECT_EQ(4660, p.vendorId);
    EXPECT_EQ(4660, p.infoVendorId);
    EXPECT_EQ(sim::kModeMonowire, p.initialMode);
    const sim::TargetConfig& t = p.target;
    EXPECT_EQ(0x410FC271u, t.cpuid);
    EXPECT_EQ(65536u, t.flash.size);
    EXPECT_EQ(0x20000000u, t.sram.base);
    EXPECT_EQ(8192u, t.sram.size);
    EXPECT_EQ(16000000u, t.trace.coreClockHz);
    EXPECT_EQ(8000000u, t.trace.traceClockHz);
    EXPECT_FALSE(t.trace.dwt.cycleCounter);
    EXPECT_TRUE(t.trace.dwt.countsInSleep);
    EXPECT_EQ(2u, t.trace.dwt.comparators);
    EXPECT_EQ(0x88Cu, t.trace.tpiuType);
    EXPECT_EQ(sim::ItmLockModel::KeyIgnored, t.trace.itmLock);
    EXPECT_EQ(32u, t.trace.itmFifoBytes);
    EXPECT_FALSE(t.trace.recordPinBytes);
    ASSERT_TRUE(t.trace.pcProfile.has_value());
    const sim::PcProfile& profile = *t.trace.pcProfile;
    ASSERT_EQ(2u, profile.ranges.size());
    EXPECT_EQ("main", profile.ranges[0].name);
    EXPECT_EQ(0x08000100u, profile.ranges[0].start);
    EXPECT_EQ(0x08000180u, profile.ranges[0].end);
    EXPECT_EQ(2.5, profile.ranges[0].weight);
    EXPECT_EQ("", profile.ranges[1].name);
    EXPECT_EQ(4u, profile.ranges[1].end);
    EXPECT_EQ(0.25, profile.sleepShare);
    EXPECT_EQ(99u, profile.seed);
    ASSERT_EQ(2u, t.trace.exceptions.size());
    const sim::ExceptionSource& systick = t.trace.exceptions[0];
    EXPECT_EQ(15, systick.number);
    EXPECT_EQ(16000u, systick.periodCycles);
    EXPECT_EQ(160u, systick.durationCycles);
    EXPECT_EQ(std::optional<uint64_t>(0), systick.firstCycles);
    EXPECT_EQ(7, systick.priority);
    EXPECT_EQ(300, t.trace.exceptions[1].number);
    EXPECT_FALSE(t.trace.exceptions[1].firstCycles.has_value()) << "one period";
    EXPECT_EQ(0, t.trace.exceptions[1].priority);
    const auto* sequence = std::get_if<sim::SequenceTraceProgram>(&t.trace.program);
    ASSERT_NE(nullptr, sequence);
    EXPECT_EQ(5000u, sequence->writesPerSecond);
    EXPECT_EQ(7, sequence->port);
    EXPECT_EQ(99u, sequence->count);
    EXPECT_TRUE(sequence->waitForFifoReady);
    EXPECT_EQ(1000u, t.resetDurationUs);
    EXPECT_TRUE(t.scenario.staysInReset);
    EXPECT_EQ(sim::LockupAfterReset::Persistent, t.scenario.lockupAfterReset);
    EXPECT_TRUE(t.scenario.neverHalts);
    EXPECT_TRUE(t.scenario.sleepsOnVectorCatch);
    EXPECT_TRUE(t.scenario.idlesInWfi);
    EXPECT_NE(nullptr, bench().probe(0).target());
}

TEST_F(BenchConfigTest, WhatIsLeftOutTakesTheDefaults) {
    ASSERT_EQ("", bench().configureFromJson("{}"));
    ASSERT_EQ(1, bench().probeCount()) << "no probes key: the default probe";
    EXPECT_EQ("DRAVIK-BENCH-0001", bench().probe(0).config.serial);
    EXPECT_FALSE(bench().clock.manual());

    ASSERT_EQ("", bench().configureFromJson(R"({"probes": []})"));
    EXPECT_EQ(0, bench().probeCount());

    ASSERT_EQ(
        "",
        bench().configureFromJson(
            R"({"probes": [{}, {"generation": 2}, {"generation": 1}, {"targetAttached": false}]})"));
    ASSERT_EQ(4, bench().probeCount());
    const sim::ProbeConfig& first = bench().probe(0).config;
    EXPECT_EQ("DRAVIK-BENCH-0001", first.serial);
    EXPECT_EQ(3, first.generation);
    EXPECT_EQ(DRAVIK_PRODUCT_ID_V3, first.productId);
    EXPECT_EQ(sim::kModeDfu, first.initialMode);
    EXPECT_TRUE(std::holds_alternative<sim::DefaultTraceProgram>(first.target.trace.program));
    EXPECT_EQ(0u, first.target.trace.traceClockHz) << "the core clock";
    EXPECT_TRUE(first.target.trace.dwt.cycleCounter);
    EXPECT_FALSE(first.target.trace.dwt.countsInSleep);
    EXPECT_FALSE(first.target.trace.pcProfile.has_value()) << "samples at the core's PC";
    EXPECT_TRUE(first.target.trace.exceptions.empty());
    EXPECT_EQ("DRAVIK-BENCH-0002", bench().probe(1).config.serial) << "numbered by position";
    EXPECT_EQ(DRAVIK_PRODUCT_ID_V2, bench().probe(1).config.productId);
    EXPECT_EQ(DRAVIK_PRODUCT_ID_V2, bench().probe(1).config.infoProductId);
    EXPECT_EQ(DRAVIK_PRODUCT_ID_V1, bench().probe(2).config.productId);
    EXPECT_EQ(nullptr, bench().probe(3).target());
    EXPECT_EQ(nullptr, bench().probe(3).traceUnit());

    ASSERT_EQ("", bench().configureFromJson(
                      R"({"probes": [{"target": {"program": {"kind": "idle"}}}]})"));
    EXPECT_TRUE(std::holds_alternative<sim::IdleTraceProgram>(
        bench().probe(0).config.target.trace.program));
}

TEST_F(BenchConfigTest, ABadDescriptionNamesTheKeyAndChangesNothing) {
    const std::string range = " (a number, or a hex string such as \"0x1F\")";
    const struct {
        const char* text;
        std::string error;
    } rows[] = {
        {"[]", "(top level): expected an object"},
        {R"({"probe": []})", "probe: unknown key"},
        {R"({"probes": {}})", "probes: expected an array"},
        {R"({"clock": {"mode": "fast"}})", "clock.mode: expected one of \"real\", \"manual\""},
        {R"({"clock": {"exchangeLatencyUs": -1}})",
         "clock.exchangeLatencyUs: expected an integer from 0 to 3600000000" + range},
        {R"({"probes": [5]})", "probes[0]: expected an object"},
        {R"({"probes": [{"generation": 16}]})",
         "probes[0].generation: expected an integer from 0 to 15" + range},
        {R"({"probes": [{"jtagVersion": 1.5}]})",
         "probes[0].jtagVersion: expected an integer from 0 to 63" + range},
        {R"({"probes": [{"productId": "0x1FFFF"}]})",
         "probes[0].productId: expected an integer from 0 to 65535" + range},
        {R"({"probes": [{"vendorId": "12"}]})",
         "probes[0].vendorId: expected an integer from 0 to 65535" + range},
        {R"({"probes": [{"serial": ""}]})", "probes[0].serial: expected a non-empty string"},
        {R"({"probes": [{"serial": 7}]})", "probes[0].serial: expected a string"},
        {R"({"probes": [{"interface": "serial"}]})",
         "probes[0].interface: expected one of \"usb\", \"tcp\""},
        {R"({"probes": [{"mode": "Debug"}]})",
         "probes[0].mode: expected one of \"dfu\", \"idle\", \"debug\", \"monowire\""},
        {R"({"probes": [{"targetAttached": "yes"}]})",
         "probes[0].targetAttached: expected true or false"},
        {R"({"probes": [{}, {"target": {"coreClock": 1}}]})",
         "probes[1].target.coreClock: unknown key"},
        {R"({"probes": [{"target": {"coreClockHz": 0}}]})",
         "probes[0].target.coreClockHz: expected an integer from 1 to 4294967295" + range},
        {R"({"probes": [{"target": {"traceClockHz": 0}}]})",
         "probes[0].target.traceClockHz: expected an integer from 1 to 4294967295" + range},
        {R"({"probes": [{"target": {"dwt": {"comparators": 16}}}]})",
         "probes[0].target.dwt.comparators: expected an integer from 0 to 15" + range},
        {R"({"probes": [{"target": {"dwt": {"noCycCnt": true}}}]})",
         "probes[0].target.dwt.noCycCnt: unknown key"},
        {R"({"probes": [{"target": {"itmLock": "open"}}]})",
         "probes[0].target.itmLock: expected one of \"normal\", \"openFromStart\", "
         "\"keyIgnored\", \"showsLockedAlways\", \"notImplemented\""},
        {R"({"probes": [{"target": {"sram": {"base": 0, "size": 3}}}]})",
         "probes[0].target: sram: base and size must be non-zero multiples of 4"},
        {R"({"probes": [{"target": {"program": {}}}]})",
         "probes[0].target.program.kind: missing: one of \"default\", \"sequence\", "
         "\"scripted\", \"idle\""},
        {R"({"probes": [{"target": {"program": {"kind": "fancy"}}}]})",
         "probes[0].target.program.kind: expected one of \"default\", \"sequence\", "
         "\"scripted\", \"idle\""},
        {R"({"probes": [{"target": {"program": {"kind": "default", "port": 3}}}]})",
         "probes[0].target.program.port: unknown key"},
        {R"({"probes": [{"target": {"program": {"kind": "default", "textPort": 32}}}]})",
         "probes[0].target.program.textPort: expected an integer from 0 to 31" + range},
        {R"({"probes": [{"target": {"program": {"kind": "scripted", "writes": {}}}}]})",
         "probes[0].target.program.writes: expected an array"},
        {R"({"probes": [{"target": {"program": {"kind": "scripted",
              "writes": [{"port": 1}, {"size": 3}]}}}]})",
         "probes[0].target.program.writes[1].size: expected 1, 2 or 4"},
        {R"({"probes": [{"target": {"scenario": {"lockupAfterReset": true}}}]})",
         "probes[0].target.scenario.lockupAfterReset: expected a string"},
        {R"({"probes": [{"target": {"pcProfile": {"ranges": {}}}}]})",
         "probes[0].target.pcProfile.ranges: expected an array"},
        {R"({"probes": [{"target": {"pcProfile": {"ranges": [{"start": 0, "end": 2,
              "weight": 1}, {"start": 8, "end": 8, "weight": 1}]}}}]})",
         "probes[0].target.pcProfile.ranges[1].end: must lie above start"},
        {R"({"probes": [{"target": {"pcProfile": {"ranges": [{"start": 0, "end": 2,
              "weight": -1}]}}}]})",
         "probes[0].target.pcProfile.ranges[0].weight: expected a number of 0 or more"},
        {R"({"probes": [{"target": {"pcProfile": {"ranges": [{"start": 0, "end": 2,
              "weight": "1"}]}}}]})",
         "probes[0].target.pcProfile.ranges[0].weight: expected a number of 0 or more"},
        {R"({"probes": [{"target": {"pcProfile": {"ranges": [{"start": 0, "end": 2,
              "weight": 1, "function": "main"}]}}}]})",
         "probes[0].target.pcProfile.ranges[0].function: unknown key"},
        {R"({"probes": [{"target": {"pcProfile": {"sleepShare": 1.5}}}]})",
         "probes[0].target.pcProfile.sleepShare: expected a number from 0 to 1"},
        {R"({"probes": [{"target": {"pcProfile": {"ranges": [{"start": 0, "end": 2}]}}}]})",
         "probes[0].target.pcProfile.ranges[0].weight: missing"},
        {R"({"probes": [{"target": {"pcProfile": {"ranges": [{"start": 0, "end": 2,
              "weight": 0}]}}}]})",
         "probes[0].target.pcProfile.ranges: no range has a weight, yet a sleep share below 1 "
         "leaves awake samples to place"},
        {R"({"probes": [{"target": {"exceptions": [{"number": 1, "periodCycles": 9,
              "durationCycles": 1}]}}]})",
         "probes[0].target.exceptions[0].number: expected an integer from 2 to 511" + range},
        {R"({"probes": [{"target": {"exceptions": [{"number": 16, "durationCycles": 1}]}}]})",
         "probes[0].target.exceptions[0].periodCycles: missing"},
        {R"({"probes": [{"target": {"exceptions": [{"number": 16, "periodCycles": 9,
              "durationCycles": 0}]}}]})",
         "probes[0].target.exceptions[0].durationCycles: expected an integer from 1 to "
         "281474976710655" +
             range},
        {R"({"probes": [{"target": {"exceptions": [{"number": 16, "periodCycles": 9,
              "durationCycles": 1}, {"number": 16, "periodCycles": 5, "durationCycles": 1}]}}]})",
         "probes[0].target.exceptions[1].number: exception 16 is given twice"},
        {R"({"probes": [{"target": {"exceptions": [{"number": 16, "periodCycles": 9,
              "durationCycles": 1, "priority": 256}]}}]})",
         "probes[0].target.exceptions[0].priority: expected an integer from 0 to 255" + range},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        bench().reset();
        EXPECT_EQ(row.error, bench().configureFromJson(row.text));
        ASSERT_EQ(1, bench().probeCount()) << "the bench is left as it was";
        EXPECT_EQ(kBenchSerial, bench().probe(0).config.serial);
    }
}

TEST_F(BenchConfigTest, UnreadableOrMalformedFilesAreRejected) {
    EXPECT_EQ("/nonexistent/bench.json: cannot be read",
              bench().configureFromFile("/nonexistent/bench.json"));
    const std::string error = bench().configureFromJson("{\"probes\": [");
    EXPECT_EQ(0u, error.rfind("not valid JSON: ", 0)) << error;
    EXPECT_EQ(1, bench().probeCount());
    EXPECT_EQ("", bench().configError()) << "only the environment's file is remembered";
}

TEST_F(BenchConfigTest, CaptureFromADescribedBench) {
    ASSERT_EQ("", bench().configureFromJson(R"({
      "clock": {"mode": "manual"},
      "probes": [{"serial": "SCRIPTED", "target": {"program": {"kind": "scripted", "writes": [
        {"timeUs": 100, "port": 3, "size": 1, "value": "0x41"},
        {"timeUs": 200, "port": 3, "size": 2, "value": "0x4342"},
        {"timeUs": 300, "port": 31, "size": 4, "value": "0xDDCCBBAA"}]}}}]
    })"));
    ASSERT_EQ(0, Select("SCRIPTED")) << g_errorMsg;
    ASSERT_EQ(0, SetUpTrace()) << g_errorMsg;
    ASSERT_EQ(0, DravikRunDevice(&status_));
    bench().clock.advance(1000);
    ASSERT_EQ(0, Poll()) << g_errorMsg;
    EXPECT_EQ((std::vector<uint8_t>{0x19, 0x41, 0x1A, 0x42, 0x43, 0xFB, 0xAA, 0xBB, 0xCC, 0xDD}),
              captured_);
}

}  // namespace
}  // namespace dravik::test
