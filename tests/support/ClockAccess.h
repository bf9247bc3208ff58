// The clock measurement wired to the bench as a tool would wire it to a probe: the target's
// registers through DbgDev's debug register access on access port 0, and a host clock that is
// the bench's manual clock (exchanges move it by their latency, sleeps move it by hand).
#pragma once

#include "DbgDev.h"
#include "DravikBench/Bench.h"
#include "dravik/clock/HostClock.h"
#include "dravik/clock/TargetRegisters.h"

namespace dravik::test {

class DbgDevRegisters final : public clock::TargetRegisters {
  public:
    explicit DbgDevRegisters(DbgDev& dev) : dev_(dev) {}
    int read(uint32_t address, uint32_t& value) override {
        unsigned word = 0;
        const int result = dev_.ReadDebugRegister(address, &word, 0);
        value = word;
        return result;
    }
    int write(uint32_t address, uint32_t value) override {
        return dev_.WriteDebugRegister(address, value, 0);
    }

  private:
    DbgDev& dev_;
};

class ManualBenchClock final : public clock::HostClock {
  public:
    uint64_t nowUs() override { return sim::bench().clock.nowUs(); }
    void sleepUs(uint64_t us) override { sim::bench().clock.advance(us); }
};

}  // namespace dravik::test
