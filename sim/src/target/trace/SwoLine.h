#pragma once
// The SWO pin as a receiver sees it: its encoding and bit clock, and bytes in the order they left.
//
// Framing, counted in TPIU output clock periods (trace clock / (TPIU_ACPR + 1)):
// - NRZ (UART): start bit, 8 data bits LSB first, stop bit; one period per bit: 10 periods a byte.
// - Manchester: each bit is two half-bit periods, so a bit takes two output clock periods; a start
//   bit, 8 data bits and one idle bit time before the next frame: 20 periods a byte.
// Data bit rate: clockHz / prescaler for NRZ, half that for Manchester.

#include <cstdint>
#include <vector>

namespace dravik::sim {

enum class SwoEncoding : uint8_t {
    None,  // no SWO protocol selected (TPIU_SPPR 0 or 3, an unsupported one, or TRCENA clear)
    Manchester,
    Nrz,
};

constexpr uint32_t kSwoBitsPerFrame = 10;

struct SwoLine {
    SwoEncoding encoding = SwoEncoding::None;
    uint32_t clockHz = 0;    // the trace clock the TPIU divides
    uint32_t prescaler = 1;  // TPIU_ACPR + 1

    // Trace clock cycles one data bit takes.
    uint64_t cyclesPerBit() const {
        return uint64_t{prescaler} * (encoding == SwoEncoding::Manchester ? 2u : 1u);
    }
    uint64_t cyclesPerByte() const { return kSwoBitsPerFrame * cyclesPerBit(); }
    // Data bits per second (0 without an encoding); exact as clockHz / cyclesPerBit().
    double bitRate() const {
        return encoding == SwoEncoding::None
                   ? 0.0
                   : static_cast<double>(clockHz) / static_cast<double>(cyclesPerBit());
    }

    friend bool operator==(const SwoLine& a, const SwoLine& b) {
        return a.encoding == b.encoding && a.clockHz == b.clockHz && a.prescaler == b.prescaler;
    }
    friend bool operator!=(const SwoLine& a, const SwoLine& b) { return !(a == b); }
};

// Consecutive bytes that left the pin with the same line settings.
struct SwoSegment {
    SwoLine line;
    std::vector<uint8_t> bytes;
};

}  // namespace dravik::sim
