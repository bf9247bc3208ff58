// Per-header recipes for decoding a packet from its header and the payload word after it,
// without branching on the kind of source and one-byte packets. Zeros, sync ends, reserved
// headers and the packets that set the stimulus page (page changes, overflows) are not covered
// here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "dravik/itm/Packet.h"
#include "dravik/itm/detail/HeaderTable.h"

namespace dravik::itm::detail {

// A source or one-byte packet passes when (payload & requireMask) | passMark is non-zero and
// payload & rejectMask is zero; headers not covered have neither bit set. Packets whose payload
// bytes are chained by bit 7 have chainLimit set instead.
struct FastHeader {
    Packet base;           // fields known from the header alone
    uint32_t payloadMask;  // payload bytes of a source packet, little-endian
    uint32_t valueMask;    // payload bits that form Packet::value
    uint16_t rejectMask;   // payload bits that must be clear
    uint16_t requireMask;  // payload bits of which one must be set
    uint8_t passMark;      // 1 where no payload bit is required
    uint8_t pageMask;      // 0xFF where the stimulus page adds to the port
    uint8_t functionMask;  // 3 for exception trace: the function in payload bits 13:12
    uint8_t chainLimit;    // chained payload: most bytes allowed; 0 for other packets
};
static_assert(sizeof(FastHeader) == 32);
static_assert(offsetof(FastHeader, payloadMask) == 16);
static_assert(offsetof(FastHeader, valueMask) == 20);
static_assert(offsetof(FastHeader, rejectMask) == 24);
static_assert(offsetof(FastHeader, requireMask) == 26);
static_assert(offsetof(FastHeader, passMark) == 28);
static_assert(offsetof(FastHeader, pageMask) == 29);
static_assert(offsetof(FastHeader, functionMask) == 30);
static_assert(offsetof(FastHeader, chainLimit) == 31);

constexpr uint32_t bytesMask(unsigned bytes) {
    return bytes >= 4 ? 0xFFFFFFFFu : (1u << (8 * bytes)) - 1;
}

constexpr FastHeader makeFastHeader(uint8_t header) {
    const HeaderInfo info = classifyHeader(header);
    FastHeader f{};
    f.base.kind = info.kind;
    switch (info.action) {
        case HeaderAction::Source:
            f.passMark = 1;
            f.payloadMask = bytesMask(info.payloadBytes);
            f.valueMask = f.payloadMask;
            f.base.size = info.payloadBytes;
            f.base.comparator = info.comparator;
            f.base.flags = info.flags;
            if (info.kind == PacketKind::Instrumentation) {
                f.base.port = info.channel;
                f.pageMask = 0xFF;
            } else {
                f.base.discriminator = info.channel;
            }
            if (info.kind == PacketKind::EventCounter) {
                f.rejectMask = 0xC0;  // only six counters
            } else if (info.kind == PacketKind::PeriodicPcSleep) {
                f.rejectMask = 0xFF;
            } else if (info.kind == PacketKind::ExceptionTrace) {
                f.valueMask = 0x1FF;
                f.rejectMask = 0xCE00;
                f.requireMask = 0x3000;  // function 0 is reserved
                f.passMark = 0;
                f.functionMask = 3;
            }
            break;
        case HeaderAction::Single:
            if (info.kind == PacketKind::StimulusPage || info.kind == PacketKind::Overflow) {
                break;  // sets the page: general path
            }
            f.passMark = 1;
            f.base.flags = info.flags;
            f.base.value = info.kind == PacketKind::Overflow ? 0 : (header >> 4) & 7;
            break;
        case HeaderAction::Continued:
            f.chainLimit = info.payloadBytes;
            f.base.flags = info.flags;
            if (info.kind == PacketKind::LocalTimestamp1) {
                f.base.relation = static_cast<TimestampRelation>((header >> 4) & 3);
            }
            break;
        default:
            break;
    }
    return f;
}

constexpr std::array<FastHeader, 256> makeFastHeaderTable() {
    std::array<FastHeader, 256> table{};
    for (unsigned header = 0; header < 256; ++header) {
        table[header] = makeFastHeader(static_cast<uint8_t>(header));
    }
    return table;
}

alignas(64) inline constexpr std::array<FastHeader, 256> kFastHeaderTable = makeFastHeaderTable();

// What a packet with this header waits for after it before it can be decoded, as
// Decoder::heldNeed_ counts it: a source packet's payload bytes, or for a chained payload
// kChainedPayload plus the most bytes it may have; 0 for headers decoded on their own.
inline constexpr uint8_t kChainedPayload = 0x80;

constexpr uint8_t payloadToWaitFor(uint8_t header) {
    const HeaderInfo info = classifyHeader(header);
    switch (info.action) {
        case HeaderAction::Source:
            return info.payloadBytes;
        case HeaderAction::Continued:
            return kChainedPayload | info.payloadBytes;
        default:
            return 0;
    }
}

constexpr std::array<uint8_t, 256> makePayloadWaitTable() {
    std::array<uint8_t, 256> table{};
    for (unsigned header = 0; header < 256; ++header) {
        table[header] = payloadToWaitFor(static_cast<uint8_t>(header));
    }
    return table;
}

alignas(64) inline constexpr std::array<uint8_t, 256> kPayloadWaitTable = makePayloadWaitTable();

}  // namespace dravik::itm::detail
