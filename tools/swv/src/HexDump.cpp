#include "dravik/swv/HexDump.h"

#include <cstdio>

namespace dravik::swv {

std::vector<MemoryRead> planMemoryReads(uint32_t address, uint32_t length) {
    std::vector<MemoryRead> reads;
    if (length == 0 || uint64_t{address} + length > 0x100000000ull) {
        return reads;
    }
    uint64_t position = address & ~uint64_t{3};
    const uint64_t end = (uint64_t{address} + length + 3) & ~uint64_t{3};
    while (position < end) {
        const uint64_t blockEnd = (position / 1024 + 1) * 1024;
        const uint64_t stop = blockEnd < end ? blockEnd : end;
        reads.push_back(
            MemoryRead{static_cast<uint32_t>(position), static_cast<uint16_t>(stop - position)});
        position = stop;
    }
    return reads;
}

std::string formatHexDump(uint32_t address, const std::vector<uint8_t>& bytes) {
    std::string text;
    if (bytes.empty()) {
        return text;
    }
    const uint64_t first = address;
    const uint64_t end = first + bytes.size();
    for (uint64_t line = first & ~uint64_t{15}; line < end; line += 16) {
        char head[24];
        std::snprintf(head, sizeof head, "%08llx ", static_cast<unsigned long long>(line));
        text += head;
        std::string ascii;
        for (uint64_t at = line; at < line + 16; ++at) {
            if (at % 8 == 0) {
                text += ' ';
            }
            if (at < first || at >= end) {
                text += "   ";
                ascii += ' ';
                continue;
            }
            const uint8_t byte = bytes[static_cast<size_t>(at - first)];
            char cell[4];
            std::snprintf(cell, sizeof cell, "%02x ", byte);
            text += cell;
            ascii += byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.';
        }
        text += " |" + ascii + "|\n";
    }
    return text;
}

}  // namespace dravik::swv
