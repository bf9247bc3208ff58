#pragma once
// Helpers shared by the trace unit tests: activities, the host's SWO setup, a minimal ITM packet
// splitter and hex dumps for failure messages.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "target/trace/TraceRegisters.h"
#include "target/trace/TraceUnit.h"

namespace dravik::sim::tracetest {

constexpr CoreActivity kRunning{true, false, true};
constexpr CoreActivity kSleeping{true, true, true};
constexpr CoreActivity kHalted{false, false, true};
constexpr CoreActivity kRunningNoTrcena{true, false, false};

struct SwoSetup {
    uint32_t acpr = 35;  // 72 MHz / 36 = 2 Mbit/s
    uint32_t sppr = trace::tpiu::kSpprNrz;
    uint32_t ter = 0xFFFFFFFF;
    uint32_t tcr = trace::itm::kTcrItmEna;
};

// What the host does before it lets the core run: TRCENA on, ITM unlocked, TPIU and ITM programmed.
inline void setUpSwo(TraceUnit& unit, const SwoSetup& setup = {}, uint64_t nowUs = 0,
                     const CoreActivity& activity = kRunning) {
    using namespace trace;
    unit.activityChanged(nowUs, activity);
    unit.write32(itm::kLar, kCoreSightLockKey, nowUs);
    unit.write32(tpiu::kAcpr, setup.acpr, nowUs);
    unit.write32(tpiu::kSppr, setup.sppr, nowUs);
    unit.write32(itm::kTer0, setup.ter, nowUs);
    unit.write32(itm::kTcr, setup.tcr, nowUs);
}

inline uint32_t readReg(TraceUnit& unit, uint32_t address, uint64_t nowUs = 0) {
    uint32_t value = 0xDEADBEEF;
    if (!unit.read32(address, value, nowUs)) {
        ADD_FAILURE() << "read of " << std::hex << address << " faulted";
    }
    return value;
}

struct Packet {
    enum class Kind { Instrumentation, Hardware, Overflow, Sync, Timestamp, Unknown };
    Kind kind = Kind::Unknown;
    uint8_t port = 0;  // hardware source: the discriminator
    uint8_t size = 0;
    uint32_t value = 0;  // instrumentation payload or timestamp delta
    size_t offset = 0;   // of the header in the stream
};

// Splits an ITM stream made of the packets this unit emits.
inline std::vector<Packet> splitItm(const std::vector<uint8_t>& bytes) {
    std::vector<Packet> packets;
    size_t i = 0;
    while (i < bytes.size()) {
        Packet p;
        p.offset = i;
        const uint8_t h = bytes[i++];
        if (h == 0x00) {
            while (i < bytes.size() && bytes[i] == 0x00) {
                ++i;
            }
            p.kind =
                (i < bytes.size() && bytes[i] == 0x80) ? Packet::Kind::Sync : Packet::Kind::Unknown;
            ++i;
        } else if (h == 0x70) {
            p.kind = Packet::Kind::Overflow;
        } else if ((h & 0x03) != 0) {  // a source packet; bit 2 set: a hardware one (the DWT)
            p.kind = (h & 0x04) != 0 ? Packet::Kind::Hardware : Packet::Kind::Instrumentation;
            p.port = static_cast<uint8_t>(h >> 3);
            p.size = (h & 3) == 3 ? 4 : (h & 3);
            for (uint8_t b = 0; b < p.size && i < bytes.size(); ++b) {
                p.value |= uint32_t{bytes[i++]} << (8 * b);
            }
        } else if ((h & 0x8F) == 0x00) {
            p.kind = Packet::Kind::Timestamp;
            p.value = h >> 4;
        } else if ((h & 0xCF) == 0xC0) {
            p.kind = Packet::Kind::Timestamp;
            unsigned shift = 0;
            while (i < bytes.size()) {
                const uint8_t b = bytes[i++];
                p.value |= uint32_t{b & 0x7Fu} << shift;
                shift += 7;
                if ((b & 0x80) == 0) {
                    break;
                }
            }
        }
        packets.push_back(p);
    }
    return packets;
}

inline std::vector<Packet> ofKind(const std::vector<Packet>& packets, Packet::Kind kind) {
    std::vector<Packet> out;
    for (const Packet& p : packets) {
        if (p.kind == kind) {
            out.push_back(p);
        }
    }
    return out;
}

inline std::string hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        out += (i ? " " : "");
        out += buf;
    }
    return out;
}

}  // namespace dravik::sim::tracetest
