#include "target/trace/ItmPackets.h"

namespace dravik::sim::trace {

void appendInstrumentation(std::vector<uint8_t>& out, uint8_t port, uint8_t size, uint32_t value) {
    out.push_back(instrumentationHeader(port, size));
    for (uint8_t i = 0; i < size; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

void appendLocalTimestamp(std::vector<uint8_t>& out, uint32_t delta) {
    if (delta == 0) {
        delta = 1;
    }
    if (delta > kMaxLocalTimestamp) {
        delta = kMaxLocalTimestamp;
    }
    if (delta <= 6) {
        out.push_back(static_cast<uint8_t>(delta << 4));
        return;
    }
    out.push_back(0xC0);  // long form, TC 0, a payload follows
    while (delta > 0x7F) {
        out.push_back(static_cast<uint8_t>(0x80 | (delta & 0x7F)));
        delta >>= 7;
    }
    out.push_back(static_cast<uint8_t>(delta));
}

void appendSync(std::vector<uint8_t>& out) {
    out.insert(out.end(), kSyncZeroBytes, uint8_t{0});
    out.push_back(kSyncLastByte);
}

void appendPcSample(std::vector<uint8_t>& out, uint32_t pc) {
    out.push_back(kPcSampleHeader);
    for (unsigned i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(pc >> (8 * i)));
    }
}

void appendPcSleepSample(std::vector<uint8_t>& out) {
    out.push_back(kPcSleepHeader);
    out.push_back(0x00);
}

void appendExceptionTrace(std::vector<uint8_t>& out, uint16_t number, ExceptionFunction function) {
    out.push_back(kExceptionTraceHeader);
    out.push_back(static_cast<uint8_t>(number));
    out.push_back(
        static_cast<uint8_t>(((number >> 8) & 1u) | (static_cast<unsigned>(function) << 4)));
}

}  // namespace dravik::sim::trace
