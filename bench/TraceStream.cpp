#include "TraceStream.h"

namespace dravik::bench {

namespace {

using itm::PacketKind;

constexpr size_t kLongestEvent = 16;       // bytes one step of the generator may append
constexpr uint64_t kEventsPerSync = 4096;  // the ITM's periodic synchronisation
constexpr unsigned kOverflowOdds = 2000;   // one overflow in this many events

class Generator {
  public:
    explicit Generator(uint64_t seed) : state_(seed != 0 ? seed : 1) {}

    void run(TraceStream& out, size_t size) {
        out_ = &out;
        out.bytes.reserve(size);
        sync();
        while (out.bytes.size() + kLongestEvent <= size) {
            event();
        }
        // Fill up with one-byte local timestamps so that no packet is cut short.
        while (out.bytes.size() < size) {
            put(0x10);
            count(PacketKind::LocalTimestamp2);
        }
        out_ = nullptr;
    }

  private:
    uint64_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    unsigned below(unsigned n) { return static_cast<unsigned>(next() % n); }

    void put(uint8_t byte) { out_->bytes.push_back(byte); }
    void putLe(uint32_t value, unsigned bytes) {
        for (unsigned i = 0; i < bytes; ++i) {
            put(static_cast<uint8_t>(value >> (8 * i)));
        }
    }
    void count(PacketKind kind) { ++out_->packets[static_cast<size_t>(kind)]; }

    void event() {
        if (++events_ % kEventsPerSync == 0) {
            sync();
            return;
        }
        if (below(kOverflowOdds) == 0) {
            put(0x70);
            count(PacketKind::Overflow);
            return;
        }
        const unsigned pick = below(100);
        if (pick < 45) {
            text();
        } else if (pick < 65) {
            put(0x0B);  // port 1, four bytes
            putLe(static_cast<uint32_t>(next()), 4);
            count(PacketKind::Instrumentation);
        } else if (pick < 85) {
            localTimestamp();
        } else {
            dwt();
        }
    }

    // printf-style console output: one byte a write, now and then a whole word.
    void text() {
        static const char kLine[] = "tick 0042: adc=1234 mV, state RUN\n";
        const char c = kLine[textPos_];
        textPos_ = (textPos_ + 1) % (sizeof kLine - 1);
        if (below(8) == 0) {
            put(0x03);  // port 0, four bytes
            putLe(0x0A4B4F20u, 4);
        } else {
            put(0x01);  // port 0, one byte
            put(static_cast<uint8_t>(c));
        }
        count(PacketKind::Instrumentation);
    }

    void localTimestamp() {
        const unsigned form = below(4);
        if (form == 0) {
            put(static_cast<uint8_t>((1 + below(6)) << 4));  // deltas 1..6 in the header
            count(PacketKind::LocalTimestamp2);
            return;
        }
        // Long form: the relation in bits 5:4, then 7-bit groups with a continuation bit.
        put(static_cast<uint8_t>(0xC0 | below(4) << 4));
        const unsigned groups = 1 + below(4);
        uint32_t delta = static_cast<uint32_t>(next());
        for (unsigned i = 0; i < groups; ++i) {
            const bool more = i + 1 < groups;
            put(static_cast<uint8_t>((delta & 0x7F) | (more ? 0x80 : 0)));
            delta >>= 7;
        }
        count(PacketKind::LocalTimestamp1);
    }

    void dwt() {
        switch (below(6)) {
            case 0: {  // exception entry, exit or return
                const uint32_t number = 16 + below(64);
                const uint32_t function = 1 + below(3);
                put(0x0E);
                put(static_cast<uint8_t>(number));
                put(static_cast<uint8_t>(function << 4 | number >> 8));
                count(PacketKind::ExceptionTrace);
                break;
            }
            case 1:  // periodic PC sample
                put(0x17);
                putLe(0x08000000u | (static_cast<uint32_t>(next()) & 0xFFFE), 4);
                count(PacketKind::PeriodicPc);
                break;
            case 2: {  // data trace: PC of a comparator match, then the value written
                const unsigned comparator = below(4);
                put(static_cast<uint8_t>((8 + 2 * comparator) << 3 | 0x07));
                putLe(0x08000000u | (static_cast<uint32_t>(next()) & 0xFFFE), 4);
                count(PacketKind::DataTracePc);
                put(static_cast<uint8_t>((16 + 2 * comparator + 1) << 3 | 0x06));
                putLe(static_cast<uint32_t>(next()), 2);
                count(PacketKind::DataTraceValue);
                break;
            }
            case 3: {  // data trace: address bits of a match, then the value read
                const unsigned comparator = below(4);
                put(static_cast<uint8_t>((8 + 2 * comparator + 1) << 3 | 0x06));
                putLe(static_cast<uint32_t>(next()), 2);
                count(PacketKind::DataTraceAddress);
                put(static_cast<uint8_t>((16 + 2 * comparator) << 3 | 0x07));
                putLe(static_cast<uint32_t>(next()), 4);
                count(PacketKind::DataTraceValue);
                break;
            }
            case 4:  // a profiling counter wrapped
                put(0x05);
                put(static_cast<uint8_t>(1 + below(63)));
                count(PacketKind::EventCounter);
                break;
            default:  // PC sample while asleep
                put(0x15);
                put(0x00);
                count(PacketKind::PeriodicPcSleep);
                break;
        }
    }

    void sync() {
        for (int i = 0; i < 5; ++i) {
            put(0x00);
        }
        put(0x80);
        count(PacketKind::Sync);
    }

    uint64_t state_;
    uint64_t events_ = 0;
    size_t textPos_ = 0;
    TraceStream* out_ = nullptr;
};

}  // namespace

uint64_t TraceStream::totalPackets() const {
    uint64_t total = 0;
    for (uint64_t n : packets) {
        total += n;
    }
    return total;
}

TraceStream MakeTraceStream(size_t size, uint64_t seed) {
    TraceStream stream;
    Generator(seed).run(stream, size);
    return stream;
}

TraceStream MakeTraceStreams(size_t count, size_t size, uint64_t seed) {
    TraceStream streams;
    streams.bytes.reserve(count * size);
    for (size_t i = 0; i < count; ++i) {
        const TraceStream one = MakeTraceStream(size, seed + i);
        streams.bytes.insert(streams.bytes.end(), one.bytes.begin(), one.bytes.end());
        for (size_t kind = 0; kind < one.packets.size(); ++kind) {
            streams.packets[kind] += one.packets[kind];
        }
    }
    return streams;
}

}  // namespace dravik::bench
