// Enabling the cycle counter over the register interface: the accesses in order, what is
// preserved, and each way it can fail.

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "dravik/clock/ClockMeasurement.h"

namespace dravik::clock {
namespace {

// Registers as a map; bits in `stuckClear` never take a write, and one access can fail.
class FakeRegisters final : public TargetRegisters {
  public:
    std::map<uint32_t, uint32_t> values;
    uint32_t stuckClear = 0;
    std::string failing;  // "R 0xE000EDFC" or "W 0xE0001000"
    int failResult = 19;
    std::vector<std::string> log;

    int read(uint32_t address, uint32_t& value) override {
        const std::string access = entry('R', address);
        log.push_back(access);
        if (access == failing) {
            return failResult;
        }
        value = values[address];
        return 0;
    }
    int write(uint32_t address, uint32_t value) override {
        log.push_back(entry('W', address) + hex(value));
        if (entry('W', address) == failing) {
            return failResult;
        }
        values[address] = value & ~stuckClear;
        return 0;
    }
    static std::string entry(char op, uint32_t address) {
        return std::string(1, op) + " " + hex(address).substr(1);
    }
    static std::string hex(uint32_t value) {
        char text[16];
        std::snprintf(text, sizeof text, " 0x%08X", value);
        return text;
    }
};

constexpr uint32_t kDemcr = reg::kDemcr;
constexpr uint32_t kCtrl = reg::kDwtCtrl;

TEST(CycleCounterSetup, SetsWhatIsClearAndReadsItBack) {
    const struct {
        const char* name;
        uint32_t demcr;
        uint32_t ctrl;
        uint32_t stuckClear;
        std::string failing;
        bool ready;
        ClockOutcome failure;
        std::vector<std::string> log;
        RegisterProblem problem;
    } cases[] = {
        {"already counting",
         reg::kDemcrTrcena,
         0x40000001,
         0,
         "",
         true,
         ClockOutcome::AccessFailed,
         {"R 0xE000EDFC", "R 0xE0001000"},
         {}},
        {"both off: vector catch and PC sampling kept",
         0x00000401,
         0x40001000,
         0,
         "",
         true,
         ClockOutcome::AccessFailed,
         {"R 0xE000EDFC", "W 0xE000EDFC 0x01000401", "R 0xE000EDFC", "R 0xE0001000",
          "W 0xE0001000 0x40001001", "R 0xE0001000"},
         {}},
        {"no cycle counter",
         reg::kDemcrTrcena,
         0x42000000,
         0,
         "",
         false,
         ClockOutcome::NoCycleCounter,
         {"R 0xE000EDFC", "R 0xE0001000"},
         {}},
        {"TRCENA does not stay",
         0,
         0x40000000,
         reg::kDemcrTrcena,
         "",
         false,
         ClockOutcome::NotEnabled,
         {"R 0xE000EDFC", "W 0xE000EDFC 0x01000000", "R 0xE000EDFC"},
         {kDemcr, false, 0, 0}},
        {"CYCCNTENA does not stay",
         reg::kDemcrTrcena,
         0x40000000,
         reg::kDwtCtrlCyccntena,
         "",
         false,
         ClockOutcome::NotEnabled,
         {"R 0xE000EDFC", "R 0xE0001000", "W 0xE0001000 0x40000001", "R 0xE0001000"},
         {kCtrl, false, 0, 0x40000000}},
        {"DEMCR cannot be read",
         0,
         0,
         0,
         "R 0xE000EDFC",
         false,
         ClockOutcome::AccessFailed,
         {"R 0xE000EDFC"},
         {kDemcr, false, 19, 0}},
        {"DWT_CTRL cannot be written",
         reg::kDemcrTrcena,
         0x40000000,
         0,
         "W 0xE0001000",
         false,
         ClockOutcome::AccessFailed,
         {"R 0xE000EDFC", "R 0xE0001000", "W 0xE0001000 0x40000001"},
         {kCtrl, true, 19, 0}},
    };
    for (const auto& c : cases) {
        FakeRegisters registers;
        registers.values = {{kDemcr, c.demcr}, {kCtrl, c.ctrl}};
        registers.stuckClear = c.stuckClear;
        registers.failing = c.failing;
        const CycleCounterSetup setup = enableCycleCounter(registers);
        EXPECT_EQ(setup.ready, c.ready) << c.name;
        if (!c.ready) {
            EXPECT_EQ(setup.failure, c.failure) << c.name;
        }
        EXPECT_EQ(registers.log, c.log) << c.name;
        EXPECT_EQ(setup.problem.address, c.problem.address) << c.name;
        EXPECT_EQ(setup.problem.write, c.problem.write) << c.name;
        EXPECT_EQ(setup.problem.result, c.problem.result) << c.name;
        EXPECT_EQ(setup.problem.readBack, c.problem.readBack) << c.name;
        EXPECT_EQ(setup.setTrcena, c.ready && !(c.demcr & reg::kDemcrTrcena)) << c.name;
        EXPECT_EQ(setup.setCycleCounter, c.ready && !(c.ctrl & 1)) << c.name;
    }
}

}  // namespace
}  // namespace dravik::clock
