#pragma once
// Encoders of the packets the ITM puts on its trace stream (Armv7-M ITM packet protocol),
// including the hardware source packets it carries for the DWT.

#include <cstdint>
#include <vector>

namespace dravik::sim::trace {

constexpr uint8_t kOverflowPacket = 0x70;
constexpr uint8_t kSyncZeroBytes = 5;  // five 0x00 and a 0x80: 47 zero bits, then a one
constexpr uint8_t kSyncLastByte = 0x80;
constexpr uint32_t kMaxLocalTimestamp = 0x0FFFFFFF;  // four 7-bit payload groups
constexpr uint32_t kMaxPacketBytes = 5;

// Header of an instrumentation packet: port in bits 7:3, size code 1/2/3 for 1/2/4 bytes.
constexpr uint8_t instrumentationHeader(uint8_t port, uint8_t size) {
    const uint8_t code = size == 1 ? 1 : size == 2 ? 2 : 3;
    return static_cast<uint8_t>(((port & 0x1Fu) << 3) | code);
}
static_assert(instrumentationHeader(0, 1) == 0x01);
static_assert(instrumentationHeader(31, 4) == 0xFB);

constexpr bool isValidWriteSize(uint8_t size) {
    return size == 1 || size == 2 || size == 4;
}

// Appends the header and the low `size` bytes of `value`, little-endian. `size` is 1, 2 or 4.
void appendInstrumentation(std::vector<uint8_t>& out, uint8_t port, uint8_t size, uint32_t value);

// Appends a local timestamp for `delta` timestamp ticks (clamped to kMaxLocalTimestamp; 0 is sent
// as 1). Deltas of 1 to 6 take the one-byte form; larger ones the long form with the relation
// "synchronous to the data" (TC 0) and as few 7-bit groups as the value needs.
void appendLocalTimestamp(std::vector<uint8_t>& out, uint32_t delta);

void appendSync(std::vector<uint8_t>& out);

// DWT packets: a hardware source header holds the discriminator in bits 7:3, bit 2 set and the
// payload size code in bits 1:0.
constexpr uint8_t kExceptionTraceHeader = 0x0E;  // discriminator 1, two bytes
constexpr uint8_t kPcSampleHeader = 0x17;        // discriminator 2, four bytes: the PC
constexpr uint8_t kPcSleepHeader = 0x15;         // discriminator 2, one byte: 0, the core slept
constexpr uint32_t kMaxExceptionNumber = 511;    // nine bits

enum class ExceptionFunction : uint8_t { Entered = 1, Exited = 2, Returned = 3 };

// Appends a periodic PC sample: the PC, little-endian.
void appendPcSample(std::vector<uint8_t>& out, uint32_t pc);
// Appends a periodic PC sample taken while the core slept.
void appendPcSleepSample(std::vector<uint8_t>& out);
// Appends an exception trace packet: the number's low 8 bits, then its bit 8 in bit 0 and the
// function in bits 5:4. `number` is 0 (thread mode, in a return) to 511.
void appendExceptionTrace(std::vector<uint8_t>& out, uint16_t number, ExceptionFunction function);

}  // namespace dravik::sim::trace
