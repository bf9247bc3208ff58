// Memory shown as a hex dump, and the 4-byte aligned reads that cover a byte range.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace dravik::swv {

struct MemoryRead {
    uint32_t address;  // multiple of 4
    uint16_t size;     // multiple of 4
};

// Aligned reads covering [address, address + length): each a multiple of 4 bytes, none crossing
// a 1 KiB boundary (the probe moves at most 1 KiB per 32-bit access). Empty for length 0 or a
// range that runs past 0xFFFFFFFF.
std::vector<MemoryRead> planMemoryReads(uint32_t address, uint32_t length);

// 16 bytes a line: "20000000  00 01 02 ... 0f  |................|". Lines start at multiples of
// 16; bytes of the line outside the range are left blank.
std::string formatHexDump(uint32_t address, const std::vector<uint8_t>& bytes);

}  // namespace dravik::swv
