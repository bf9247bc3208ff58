// Exact-byte assertions on the bench's wire log: tests state the command records they expect, in
// order; a mismatch prints both sides in hex, and a missing or extra command fails.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

#include "DravikBench/Bench.h"

namespace dravik::test {

struct ExpectedCommand {
    std::vector<uint8_t> cdb;  // compared over all 16 bytes; missing bytes must be zero
    uint8_t cdbLength = 10;
    uint8_t direction = 1;
    uint32_t length = 0;
    std::optional<std::vector<uint8_t>> sent;  // data phase of a write
};

// A probe-to-host command with `length` answer bytes.
ExpectedCommand In(std::initializer_list<uint8_t> cdb, uint32_t length, uint8_t cdbLength = 10);
// A host-to-probe command carrying `data`.
ExpectedCommand Out(std::initializer_list<uint8_t> cdb, std::vector<uint8_t> data);
// The trace stream read of `length` bytes.
ExpectedCommand Trace(uint32_t length);

// Compares every send of the log with `expected`, in order.
::testing::AssertionResult SendsAre(const std::vector<sim::WireEntry>& log,
                                    const std::vector<ExpectedCommand>& expected);
// Same, from the bench's current log.
::testing::AssertionResult SentExactly(const std::vector<ExpectedCommand>& expected);

// Every record the system sent must carry the fixed fields (sense length 14, time-out 5000).
::testing::AssertionResult RecordsWellFormed(const std::vector<sim::WireEntry>& log);

}  // namespace dravik::test
