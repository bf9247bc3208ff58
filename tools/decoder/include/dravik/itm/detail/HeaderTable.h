// What each possible header byte starts: the classification both decoding paths are built on.
#pragma once

#include <array>
#include <cstdint>

#include "dravik/itm/Packet.h"

namespace dravik::itm::detail {

enum class HeaderAction : uint8_t {
    Reject,     // reserved header: the byte is dropped on its own
    Zero,       // part of a synchronisation packet, if a one bit follows in time
    SyncEnd,    // 0x80: ends a synchronisation packet after enough zero bytes
    Single,     // a packet of just this byte
    Source,     // header plus exactly payloadBytes bytes
    Continued,  // header plus up to payloadBytes bytes chained by their bit 7
};

struct HeaderInfo {
    HeaderAction action;
    PacketKind kind;
    uint8_t payloadBytes;  // Source: exact count; Continued: maximum
    uint8_t channel;       // software source: port on the page; hardware source: discriminator
    uint8_t comparator;    // data trace
    uint8_t flags;         // PacketFlag bits known from the header alone
};
static_assert(sizeof(HeaderInfo) == 6);

inline constexpr uint8_t kMaxLocalTimestampPayload = 4;
inline constexpr uint8_t kMaxGlobalTimestamp1Payload = 4;
inline constexpr uint8_t kMaxGlobalTimestamp2Payload = 6;  // 64-bit timestamps
inline constexpr uint8_t kMaxExtensionPayload = 4;         // the fourth byte is all data

constexpr HeaderInfo makeInfo(HeaderAction action, PacketKind kind, uint8_t payload = 0,
                              uint8_t channel = 0, uint8_t comparator = 0, uint8_t flags = 0) {
    return HeaderInfo{action, kind, payload, channel, comparator, flags};
}

constexpr HeaderInfo reject() {
    return makeInfo(HeaderAction::Reject, PacketKind::Sync);
}

constexpr HeaderInfo classifyHardwareSource(uint8_t discriminator, uint8_t payload) {
    using A = HeaderAction;
    using K = PacketKind;
    const uint8_t comparator = (discriminator >> 1) & 3;
    switch (discriminator) {
        case 0:
            return payload == 1 ? makeInfo(A::Source, K::EventCounter, 1, 0) : reject();
        case 1:
            return payload == 2 ? makeInfo(A::Source, K::ExceptionTrace, 2, 1) : reject();
        case 2:
            if (payload == 4) {
                return makeInfo(A::Source, K::PeriodicPc, 4, 2);
            }
            return payload == 1 ? makeInfo(A::Source, K::PeriodicPcSleep, 1, 2) : reject();
        default:
            break;
    }
    if (discriminator >= 8 && discriminator <= 15) {
        if ((discriminator & 1) == 0) {
            return payload == 4 ? makeInfo(A::Source, K::DataTracePc, 4, discriminator, comparator)
                                : reject();
        }
        return payload == 2 ? makeInfo(A::Source, K::DataTraceAddress, 2, discriminator, comparator)
                            : reject();
    }
    if (discriminator >= 16 && discriminator <= 23) {
        const uint8_t flags = (discriminator & 1) != 0 ? PacketFlag::kWrite : 0;
        return makeInfo(A::Source, K::DataTraceValue, payload, discriminator, comparator, flags);
    }
    return reject();  // discriminators 3..7 and 24..31 are reserved
}

constexpr HeaderInfo classifyHeader(uint8_t header) {
    using A = HeaderAction;
    using K = PacketKind;
    if (header == 0x00) {
        return makeInfo(A::Zero, K::Sync);
    }
    if (header == 0x80) {
        return makeInfo(A::SyncEnd, K::Sync);
    }
    const uint8_t sizeCode = header & 3;
    if (sizeCode != 0) {
        const uint8_t payload = sizeCode == 3 ? 4 : sizeCode;
        if ((header & 4) == 0) {
            return makeInfo(A::Source, K::Instrumentation, payload, header >> 3);
        }
        return classifyHardwareSource(header >> 3, payload);
    }
    if (header == 0x70) {
        return makeInfo(A::Single, K::Overflow);
    }
    if ((header & 0x0F) == 0) {
        if ((header & 0x80) == 0) {
            return makeInfo(A::Single, K::LocalTimestamp2);  // 0x10..0x60
        }
        if ((header & 0x40) != 0) {
            return makeInfo(A::Continued, K::LocalTimestamp1, kMaxLocalTimestampPayload);
        }
        return reject();  // 0x90, 0xA0, 0xB0
    }
    if ((header & 0x08) != 0) {
        const uint8_t flags = (header & 0x04) != 0 ? PacketFlag::kHardware : 0;
        if ((header & 0x80) != 0) {
            return makeInfo(A::Continued, K::Extension, kMaxExtensionPayload, 0, 0, flags);
        }
        return makeInfo(A::Single, flags != 0 ? K::Extension : K::StimulusPage, 0, 0, 0, flags);
    }
    if (header == 0x94) {
        return makeInfo(A::Continued, K::GlobalTimestamp1, kMaxGlobalTimestamp1Payload);
    }
    if (header == 0xB4) {
        return makeInfo(A::Continued, K::GlobalTimestamp2, kMaxGlobalTimestamp2Payload);
    }
    return reject();
}

constexpr std::array<HeaderInfo, 256> makeHeaderTable() {
    std::array<HeaderInfo, 256> table{};
    for (unsigned header = 0; header < 256; ++header) {
        table[header] = classifyHeader(static_cast<uint8_t>(header));
    }
    return table;
}

inline constexpr std::array<HeaderInfo, 256> kHeaderTable = makeHeaderTable();

}  // namespace dravik::itm::detail
