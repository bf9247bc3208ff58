#pragma once
// Shared helpers for the target model tests: word access by address, DHCSR commands, a clock.

#include <gtest/gtest.h>

#include <cstdint>

#include "target/ArmV7mRegisters.h"
#include "target/CortexM.h"

namespace dravik::sim::testing {

namespace reg = armv7m;

constexpr uint32_t kDhcsrHalt = reg::dhcsr::kDbgKey | 0x0003;  // C_DEBUGEN | C_HALT
constexpr uint32_t kDhcsrRun = reg::dhcsr::kDbgKey | 0x0001;
constexpr uint32_t kDhcsrStep = reg::dhcsr::kDbgKey | 0x0005;
constexpr uint32_t kAircrSysReset = reg::aircr::kVectKey | reg::aircr::kSysResetReq;
constexpr uint32_t kAircrVectReset = reg::aircr::kVectKey | reg::aircr::kVectReset;

// Drives one model on a clock that moves 1 us per access unless a test moves it further.
class TargetHarness {
  public:
    explicit TargetHarness(const TargetConfig& config = TargetConfig{}) : core(config) {}

    uint64_t tick() { return ++nowUs; }

    uint32_t read32(uint32_t address) {
        uint32_t value = 0xBAD0BAD0;
        EXPECT_EQ(core.read(address, AccessSize::Word, value, tick()), BusStatus::Ok)
            << std::hex << address;
        return value;
    }
    void write32(uint32_t address, uint32_t value) {
        EXPECT_EQ(core.write(address, AccessSize::Word, value, tick()), BusStatus::Ok)
            << std::hex << address;
    }
    uint32_t dhcsr() { return read32(reg::kDhcsr); }
    void halt() {
        write32(reg::kDhcsr, kDhcsrHalt);
        ASSERT_EQ(core.runState(), RunState::Halted);
    }
    uint32_t coreRegister(unsigned regsel) {
        uint32_t value = 0;
        EXPECT_EQ(core.readCoreRegister(regsel, value, tick()), RegisterAccess::Ok) << regsel;
        return value;
    }

    CortexM core;
    uint64_t nowUs = 0;
};

}  // namespace dravik::sim::testing
