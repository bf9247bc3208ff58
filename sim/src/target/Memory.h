#pragma once
// The target's flash and SRAM, byte-addressed and little-endian.

#include <DravikBench/TargetConfig.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "target/Bus.h"

namespace dravik::sim {

class MemoryRegion {
  public:
    MemoryRegion(const MemoryRegionConfig& layout, bool busWritable);

    bool contains(uint32_t address, size_t length) const;
    bool busWritable() const { return busWritable_; }
    uint32_t base() const { return base_; }

    // Preconditions: contains(address, length).
    void copyOut(uint32_t address, uint8_t* out, size_t length) const;
    void copyIn(uint32_t address, const uint8_t* in, size_t length);

  private:
    uint32_t base_;
    bool busWritable_;
    std::vector<uint8_t> bytes_;
};

// Flash (erased, vector table at its base, read-only to the bus) and SRAM (canary-filled).
class Memory {
  public:
    explicit Memory(const TargetConfig& config);

    // Bus accesses: misaligned, unmapped and flash writes fault.
    BusStatus read(uint32_t address, AccessSize size, uint32_t& value) const;
    BusStatus write(uint32_t address, AccessSize size, uint32_t value);

    // Back door for fixtures: any mapped bytes, flash included; false when a byte is unmapped.
    bool load(uint32_t address, const uint8_t* data, size_t length);
    bool peek(uint32_t address, uint8_t* out, size_t length) const;
    bool peekWord(uint32_t address, uint32_t& value) const;

  private:
    const MemoryRegion* regionOf(uint32_t address, size_t length) const;
    MemoryRegion* regionOf(uint32_t address, size_t length);

    MemoryRegion flash_;
    MemoryRegion sram_;
};

}  // namespace dravik::sim
