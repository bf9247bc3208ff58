#pragma once
#include <cstdint>
namespace dravik::sim {
// What the core did since the last advance: time-driven blocks (the ITM's program) only act while
// it runs.
struct CoreActivity {
    // The core executed instructions (not halted, not in reset, not locked up).
    bool running = false;
    bool sleeping = false;  // running but in WFI/WFE
    bool trcena = false;    // DEMCR.TRCENA
};
// A memory-mapped block on the target's private peripheral bus.
class Peripheral {
  public:
    virtual ~Peripheral() = default;
    virtual bool claims(uint32_t address) const = 0;
    // 32-bit accesses; false means the access faults on the bus.
    virtual bool read32(uint32_t address, uint32_t& value, uint64_t nowUs) = 0;
    virtual bool write32(uint32_t address, uint32_t value, uint64_t nowUs) = 0;
    // Time has moved to nowUs; `activity` held over the whole span since the previous call.
    virtual void advance(uint64_t nowUs, const CoreActivity& activity) = 0;

    // Optional hooks (the defaults do nothing).
    // The activity has just changed at nowUs; advance() has already closed the span before it, so a
    // block that gates register access on TRCENA can follow it without waiting for the next span.
    virtual void activityChanged(uint64_t /*nowUs*/, const CoreActivity& /*activity*/) {}
    // Power-on reset of the target. Debug and trace blocks keep their state over system and core
    // resets, as on silicon; only this one returns them to their reset values.
    virtual void powerOnReset(uint64_t /*nowUs*/) {}
    // The core has just left a reset of any kind and starts its firmware from the reset vector.
    virtual void coreResetEnded(uint64_t /*nowUs*/) {}
};
}  // namespace dravik::sim
