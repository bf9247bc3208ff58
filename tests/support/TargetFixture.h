// Fixture for target access tests: one probe in debug mode with a target model behind it, opened by
// a device object that has queried the mode; the wire log and captured texts start empty.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "DbgDevFixture.h"
#include "DravikBench/Bench.h"
#include "WireExpect.h"
#include "target/ArmV7mRegisters.h"
#include "target/CortexM.h"

namespace dravik::test {

namespace armv7m = sim::armv7m;

// A probe of generation `v` with debug firmware `j`, already in debug mode.
inline sim::ProbeConfig DebugProbe(uint8_t v = 3, uint8_t j = 7) {
    return TestProbe(v, j).mode(sim::kModeDebug);
}

// Little-endian bytes of a word, for command blocks and scripted answers.
inline std::vector<uint8_t> Le32(uint32_t value) {
    return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}

// A command block: the class and sub-command, then the listed parameter bytes.
inline std::vector<uint8_t> Cdb(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> cdb;
    for (const auto& part : parts) {
        cdb.insert(cdb.end(), part.begin(), part.end());
    }
    return cdb;
}

// The expected record of a debug register access (F2 35 / F2 36) on access port 0.
inline ExpectedCommand DebugWrite(uint32_t address, uint32_t value) {
    ExpectedCommand e;
    e.cdb = Cdb({{0xF2, 0x35}, Le32(address), Le32(value), {0x00}});
    e.length = 2;
    return e;
}
inline ExpectedCommand DebugRead(uint32_t address) {
    ExpectedCommand e;
    e.cdb = Cdb({{0xF2, 0x36}, Le32(address), {0x00}});
    e.length = 8;
    return e;
}

// An answer to the next read of the debug register at `address`.
inline sim::ScriptedAnswer DebugReadAnswer(uint32_t address, uint32_t value) {
    std::vector<uint8_t> rest{0, 0};
    const std::vector<uint8_t> word = Le32(value);
    rest.insert(rest.end(), word.begin(), word.end());
    return sim::ScriptedAnswer::Status(0x0080, rest).When(Cdb({{0xF2, 0x36}, Le32(address)}));
}

// Sends a record the system's operations would never build through the device object's transport
// (command-block length 10); with `statusWord` the first two answer bytes are analysed.
inline int SendRaw(DbgDev& dev, const std::vector<uint8_t>& cdb, uint8_t direction, uint8_t* data,
                   uint32_t length, bool statusWord) {
    TDeviceRequest record{};
    record.cdbLength = 10;
    std::copy(cdb.begin(), cdb.end(), record.cdb);
    record.direction = direction;
    record.buffer = data;
    record.bufferLength = length;
    record.senseLength = 14;
    return dev.SendRequestAndAnalyzeStatus(
        &record, statusWord ? reinterpret_cast<const unsigned short*>(data) : nullptr);
}

class TargetTest : public BenchTest {
  protected:
    // Replaces the bench's probes with `config`, opens it and queries its mode.
    DbgDev& Connect(const sim::ProbeConfig& config = DebugProbe()) {
        UseProbe(config);
        DbgDev& dev = OpenDevice();
        EXPECT_EQ(0, dev.Get_CurrentMode());
        bench().clearLog();
        log_.clear();
        return dev;
    }
    sim::CortexM& Target() {
        sim::CortexM* target = bench().probe(0).target();
        EXPECT_NE(nullptr, target);
        return *target;
    }
    // The target's clock: the bench time of the last exchange.
    uint64_t Now() { return bench().clock.nowUs(); }
    void HaltTarget() {
        ASSERT_EQ(sim::BusStatus::Ok, Target().write(armv7m::kDhcsr, sim::AccessSize::Word,
                                                     armv7m::dhcsr::kDbgKey | 0x0003, Now()));
        ASSERT_EQ(sim::RunState::Halted, Target().runState());
    }
};

}  // namespace dravik::test
