// A realistic trace for the recovery tests: console text, timestamps, exceptions, PC samples,
// data trace and counters, with the offset at which each packet starts; and noisy streams made
// of its packets.
#pragma once

#include <cstddef>
#include <random>
#include <vector>

#include "DecoderTestSupport.h"

namespace dravik::itm::test {

struct Trace {
    Bytes bytes;
    std::vector<Packet> packets;
    std::vector<size_t> starts;  // offset of each packet's first byte

    void add(const Bytes& encoded, const Packet& packet) {
        starts.push_back(bytes.size());
        bytes.insert(bytes.end(), encoded.begin(), encoded.end());
        packets.push_back(packet);
    }

    // Packets that start at or after `offset`.
    std::vector<Packet> packetsFrom(size_t offset) const {
        std::vector<Packet> tail;
        for (size_t i = 0; i < packets.size(); ++i) {
            if (starts[i] >= offset) {
                tail.push_back(packets[i]);
            }
        }
        return tail;
    }
};

inline Trace realisticTrace() {
    using K = PacketKind;
    Trace t;
    for (uint8_t round = 0; round < 3; ++round) {
        const uint8_t text = static_cast<uint8_t>('a' + round);
        t.add({0x01, text}, Expect(K::Instrumentation).size(1).value(text));
        t.add({0xC0, 0x23}, Expect(K::LocalTimestamp1).size(1).value(0x23));
        t.add({0x0E, 0x0F, 0x10}, Expect(K::ExceptionTrace)
                                      .discriminator(1)
                                      .size(2)
                                      .value(15)
                                      .function(ExceptionFunction::Entered));
        t.add({0x17, 0xF4, 0x01, 0x00, 0x08},
              Expect(K::PeriodicPc).discriminator(2).size(4).value(0x080001F4));
        t.add({0x0E, 0x0F, 0x20}, Expect(K::ExceptionTrace)
                                      .discriminator(1)
                                      .size(2)
                                      .value(15)
                                      .function(ExceptionFunction::Exited));
        t.add({0x0E, 0x00, 0x30}, Expect(K::ExceptionTrace)
                                      .discriminator(1)
                                      .size(2)
                                      .function(ExceptionFunction::Returned));
        t.add({0x30}, Expect(K::LocalTimestamp2).value(3));
        t.add({0x05, 0x20}, Expect(K::EventCounter).size(1).value(EventCounterBit::kCyc));
        t.add({0x47, 0x10, 0x02, 0x00, 0x08},
              Expect(K::DataTracePc).discriminator(8).size(4).value(0x08000210));
        t.add({0x8E, 0x34, 0x12}, Expect(K::DataTraceValue)
                                      .discriminator(17)
                                      .size(2)
                                      .value(0x1234)
                                      .flags(PacketFlag::kWrite));
        t.add({0x0A, 0x2A, 0x00}, Expect(K::Instrumentation).port(1).size(2).value(0x2A));
        t.add({0x03, 'w', 'o', 'r', 'd'}, Expect(K::Instrumentation).size(4).value(0x64726F77));
        t.add({0x94, 0x81, 0x82, 0x83, 0x01},
              Expect(K::GlobalTimestamp1).size(4).value(1 | 2 << 7 | 3 << 14 | 1 << 21));
        t.add({0xB4, 0x81, 0x82, 0x83, 0x00},
              Expect(K::GlobalTimestamp2)
                  .size(4)
                  .value(static_cast<uint64_t>(1 | 2 << 7 | 3 << 14) << 26));
        t.add({0x70}, Expect(K::Overflow));
        t.add({0xD0, 0x85, 0x01}, Expect(K::LocalTimestamp1)
                                      .size(2)
                                      .value(0x85)
                                      .relation(TimestampRelation::TimestampDelayed));
        t.add({0x15, 0x00}, Expect(K::PeriodicPcSleep).discriminator(2).size(1));
        t.add({0x01, '\n'}, Expect(K::Instrumentation).size(1).value('\n'));
    }
    return t;
}

// Valid packets, garbage, zero runs and sync ends, mixed.
inline Bytes noisyStream(std::mt19937& rng, size_t length) {
    const Trace trace = realisticTrace();
    Bytes bytes;
    while (bytes.size() < length) {
        switch (rng() % 6) {
            case 0:
            case 1: {
                const size_t i = rng() % trace.packets.size();
                const size_t end =
                    i + 1 < trace.starts.size() ? trace.starts[i + 1] : trace.bytes.size();
                bytes.insert(bytes.end(), trace.bytes.begin() + trace.starts[i],
                             trace.bytes.begin() + end);
                break;
            }
            case 2:
                bytes.insert(bytes.end(), rng() % 8, 0x00);
                bytes.push_back(0x80);
                break;
            default:
                bytes.push_back(static_cast<uint8_t>(rng()));
                break;
        }
    }
    return bytes;
}

}  // namespace dravik::itm::test
