#pragma once
// Vocabulary of the target's bus as the debug access port sees it.

#include <cstdint>

namespace dravik::sim {

enum class AccessSize : uint8_t { Byte = 1, HalfWord = 2, Word = 4 };

enum class BusStatus : uint8_t { Ok, Fault };

constexpr unsigned bytesOf(AccessSize size) {
    return static_cast<unsigned>(size);
}

// Outcome of a block transfer: it stops at the first faulting unit.
struct BlockTransfer {
    BusStatus status = BusStatus::Ok;
    uint32_t bytesDone = 0;  // bytes transferred before the fault (all of them on success)
};

}  // namespace dravik::sim
