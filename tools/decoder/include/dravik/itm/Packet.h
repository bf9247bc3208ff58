// One decoded ITM/DWT trace packet and the names of its parts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dravik::itm {

enum class PacketKind : uint8_t {
    Sync,              // 47 or more zero bits followed by a one bit
    Overflow,          // the ITM or DWT dropped packets
    Instrumentation,   // software source: a write to a stimulus port
    EventCounter,      // DWT profiling counter wrapped
    ExceptionTrace,    // exception entry, exit or return
    PeriodicPc,        // periodic PC sample
    PeriodicPcSleep,   // periodic PC sample taken while the core slept
    DataTracePc,       // PC of an access that matched a DWT comparator
    DataTraceAddress,  // low address bits of an access that matched a comparator
    DataTraceValue,    // data of an access that matched a comparator
    LocalTimestamp1,   // delta timestamp with its relation to the data
    LocalTimestamp2,   // small delta timestamp, synchronous with the data
    GlobalTimestamp1,  // low bits of the global timestamp
    GlobalTimestamp2,  // high bits of the global timestamp
    StimulusPage,      // selects the page of 32 stimulus ports that follows
    Extension,         // any other extension packet
};
inline constexpr size_t kPacketKindCount = 16;

// Relation of a local timestamp to the packet it follows (the TC field).
enum class TimestampRelation : uint8_t {
    Synchronous = 0,       // generated together with the data
    TimestampDelayed = 1,  // the timestamp was emitted late relative to the data
    PacketDelayed = 2,     // the data packet was emitted late relative to its event
    BothDelayed = 3,
};

// What an exception trace packet reports.
enum class ExceptionFunction : uint8_t {
    None = 0,  // only in packets that are not exception traces
    Entered = 1,
    Exited = 2,
    Returned = 3,
};

// Bits of Packet::flags.
namespace PacketFlag {
inline constexpr uint8_t kWrite = 0x01;        // data trace value: a write access (else a read)
inline constexpr uint8_t kWrap = 0x02;         // global timestamp 1: high bits changed, see GTS2
inline constexpr uint8_t kClockChange = 0x04;  // global timestamp 1: the timestamp clock changed
inline constexpr uint8_t kHardware = 0x08;     // extension: sent by hardware (SH bit), else by ITM
}  // namespace PacketFlag

// Bits of Packet::value in an event counter packet: which counter wrapped.
namespace EventCounterBit {
inline constexpr uint32_t kCpi = 0x01;
inline constexpr uint32_t kExc = 0x02;
inline constexpr uint32_t kSleep = 0x04;
inline constexpr uint32_t kLsu = 0x08;
inline constexpr uint32_t kFold = 0x10;
inline constexpr uint32_t kCyc = 0x20;  // POSTCNT (cycle counter tap)
}  // namespace EventCounterBit

// Fields not used by a kind are zero, so packets compare field by field.
struct Packet {
    // Instrumentation, data trace value: the payload, little-endian as sent.
    // Event counter: EventCounterBit set. Exception trace: exception number (0..511).
    // Periodic PC, data trace PC: the PC. Periodic PC sleep: the payload byte (0).
    // Data trace address: address bits 15:0.
    // Local timestamps: the delta. Global timestamp 1: bits 25:0 as far as sent.
    // Global timestamp 2: bits 63:26 in place (OR it with a GTS1 value).
    // Stimulus page: the page. Extension: the EX bits (header bits first).
    uint64_t value;
    PacketKind kind;
    uint8_t size;                // payload bytes after the header (0 for one-byte packets)
    uint8_t port;                // instrumentation: stimulus port, page * 32 + header port
    uint8_t discriminator;       // hardware source packets: the discriminator ID
    uint8_t comparator;          // data trace: DWT comparator 0..3
    TimestampRelation relation;  // local timestamps
    ExceptionFunction function;  // exception trace
    uint8_t flags;               // PacketFlag bits

    bool isWrite() const { return (flags & PacketFlag::kWrite) != 0; }
    bool wrapped() const { return (flags & PacketFlag::kWrap) != 0; }
    bool clockChanged() const { return (flags & PacketFlag::kClockChange) != 0; }
    bool fromHardware() const { return (flags & PacketFlag::kHardware) != 0; }
};
static_assert(sizeof(Packet) == 16);
static_assert(offsetof(Packet, value) == 0);
static_assert(offsetof(Packet, kind) == 8);
static_assert(offsetof(Packet, size) == 9);
static_assert(offsetof(Packet, port) == 10);
static_assert(offsetof(Packet, discriminator) == 11);
static_assert(offsetof(Packet, comparator) == 12);
static_assert(offsetof(Packet, relation) == 13);
static_assert(offsetof(Packet, function) == 14);
static_assert(offsetof(Packet, flags) == 15);

inline bool operator==(const Packet& a, const Packet& b) {
    return a.value == b.value && a.kind == b.kind && a.size == b.size && a.port == b.port &&
           a.discriminator == b.discriminator && a.comparator == b.comparator &&
           a.relation == b.relation && a.function == b.function && a.flags == b.flags;
}
inline bool operator!=(const Packet& a, const Packet& b) {
    return !(a == b);
}

// Short lower-case names for logs and tools; "unknown" for values outside the enumerations.
const char* packetKindName(PacketKind kind) noexcept;
const char* timestampRelationName(TimestampRelation relation) noexcept;
const char* exceptionFunctionName(ExceptionFunction function) noexcept;

}  // namespace dravik::itm
