#pragma once
// What a probe's SWO receiver makes of the line: the bytes unchanged when it decodes the line's
// encoding at a bit rate within its tolerance of the line's, otherwise deterministic garbage.
//
// The probe's receiver is a UART (NRZ only): a Manchester line reads as garbage there. The
// tolerance defaults to 3.0 % of the line's data bit rate, inside what a UART sampling mid-bit
// survives over a 10-bit frame. Garbage stands for what a mistimed UART samples: about
// receiver rate / line rate bytes for every byte on the line (fractions carried from byte to byte),
// each a pseudo-random value drawn from the bytes seen so far. It depends only on the whole byte
// sequence and the line settings, not on how the bytes are handed in.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "target/trace/SwoLine.h"

namespace dravik::sim {

struct SwoReceiverConfig {
    uint32_t rateBps = 0;  // bit rate the receiver samples at; 0 receives nothing
    SwoEncoding encoding = SwoEncoding::Nrz;  // what it decodes
    uint32_t tolerancePermille = 30;          // largest rate error it survives, in 0.1 %
};

class SwoReceiver {
  public:
    explicit SwoReceiver(const SwoReceiverConfig& config);
    explicit SwoReceiver(uint32_t rateBps);  // a UART with the default tolerance

    const SwoReceiverConfig& config() const { return config_; }

    // Whether a receiver so configured reads this line's bytes unchanged.
    static bool decodes(const SwoReceiverConfig& config, const SwoLine& line);

    // Appends to `out` what the receiver reads from `count` bytes sent on `line`.
    void receive(const SwoLine& line, const uint8_t* bytes, size_t count,
                 std::vector<uint8_t>& out);
    void receive(const std::vector<SwoSegment>& segments, std::vector<uint8_t>& out);
    std::vector<uint8_t> receive(const SwoLine& line, const std::vector<uint8_t>& bytes);

    uint64_t garbageBytes() const { return garbageBytes_; }
    // Back to the state after construction (the receiver restarted).
    void restart();

  private:
    SwoReceiverConfig config_;
    uint64_t carry_ = 0;  // fraction of a garbage byte, in units of 1 / the line's clockHz
    uint64_t noise_ = 0;
    uint64_t garbageBytes_ = 0;
};

}  // namespace dravik::sim
