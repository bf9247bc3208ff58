#include "target/Memory.h"

namespace dravik::sim {

MemoryRegion::MemoryRegion(const MemoryRegionConfig& layout, bool busWritable)
    : base_(layout.base), busWritable_(busWritable), bytes_(layout.size, 0) {}

bool MemoryRegion::contains(uint32_t address, size_t length) const {
    if (address < base_) {
        return false;
    }
    const uint64_t offset = address - base_;
    return offset + length <= bytes_.size();
}

void MemoryRegion::copyOut(uint32_t address, uint8_t* out, size_t length) const {
    const size_t offset = address - base_;
    for (size_t i = 0; i < length; ++i) {
        out[i] = bytes_[offset + i];
    }
}

void MemoryRegion::copyIn(uint32_t address, const uint8_t* in, size_t length) {
    const size_t offset = address - base_;
    for (size_t i = 0; i < length; ++i) {
        bytes_[offset + i] = in[i];
    }
}

namespace {

void putWordLe(uint8_t* out, uint32_t value) {
    for (unsigned i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

bool aligned(uint32_t address, AccessSize size) {
    return address % bytesOf(size) == 0;
}

}  // namespace

Memory::Memory(const TargetConfig& config) : flash_(config.flash, false), sram_(config.sram, true) {
    std::vector<uint8_t> erased(config.flash.size, silicon::kErasedFlashByte);
    putWordLe(erased.data(), initialStackPointerOf(config));
    putWordLe(erased.data() + 4, resetVectorOf(config));
    flash_.copyIn(config.flash.base, erased.data(), erased.size());

    std::vector<uint8_t> canary(config.sram.size);
    for (uint32_t offset = 0; offset < config.sram.size; ++offset) {
        canary[offset] = sramCanaryByte(offset);
    }
    sram_.copyIn(config.sram.base, canary.data(), canary.size());
}

const MemoryRegion* Memory::regionOf(uint32_t address, size_t length) const {
    if (flash_.contains(address, length)) {
        return &flash_;
    }
    if (sram_.contains(address, length)) {
        return &sram_;
    }
    return nullptr;
}

MemoryRegion* Memory::regionOf(uint32_t address, size_t length) {
    return const_cast<MemoryRegion*>(static_cast<const Memory*>(this)->regionOf(address, length));
}

BusStatus Memory::read(uint32_t address, AccessSize size, uint32_t& value) const {
    const unsigned n = bytesOf(size);
    const MemoryRegion* region = regionOf(address, n);
    if (region == nullptr || !aligned(address, size)) {
        return BusStatus::Fault;
    }
    uint8_t bytes[4] = {};
    region->copyOut(address, bytes, n);
    value = 0;
    for (unsigned i = 0; i < n; ++i) {
        value |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    }
    return BusStatus::Ok;
}

BusStatus Memory::write(uint32_t address, AccessSize size, uint32_t value) {
    const unsigned n = bytesOf(size);
    MemoryRegion* region = regionOf(address, n);
    if (region == nullptr || !region->busWritable() || !aligned(address, size)) {
        return BusStatus::Fault;
    }
    uint8_t bytes[4] = {};
    putWordLe(bytes, value);
    region->copyIn(address, bytes, n);
    return BusStatus::Ok;
}

bool Memory::load(uint32_t address, const uint8_t* data, size_t length) {
    MemoryRegion* region = regionOf(address, length);
    if (region == nullptr) {
        return false;
    }
    region->copyIn(address, data, length);
    return true;
}

bool Memory::peek(uint32_t address, uint8_t* out, size_t length) const {
    const MemoryRegion* region = regionOf(address, length);
    if (region == nullptr) {
        return false;
    }
    region->copyOut(address, out, length);
    return true;
}

bool Memory::peekWord(uint32_t address, uint32_t& value) const {
    return read(address, AccessSize::Word, value) == BusStatus::Ok;
}

}  // namespace dravik::sim
