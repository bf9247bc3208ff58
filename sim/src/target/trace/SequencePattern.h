#pragma once
// The byte stream of the sequence firmware (SequenceTraceProgram) and a checker that places every
// received byte in it, so a benchmark can count exactly what was lost or arrived twice.
//
// Stream byte j is byte j % 5 of packet j / 5, and packet k is the word write of k: the header
// (port << 3 | 3) and k little-endian. Any two whole packets in a row tell where they stand (the
// header twice, five bytes apart, around consecutive numbers), and so does a lone packet between
// overflow packets near where the stream was, so after a disturbance the checker finds its place
// again from the bytes alone. A loss shows as stream bytes skipped, a repeat as bytes placed where
// the stream had been before; bytes placed nowhere (overflow packets, garbage) count as extra.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dravik::sim {

constexpr uint32_t kSequencePacketBytes = 5;

// Byte `index` of the undisturbed stream of a sequence firmware writing on `port`.
uint8_t sequenceStreamByte(uint8_t port, uint64_t index);

class SequenceChecker {
  public:
    explicit SequenceChecker(uint8_t port = 0);

    void feed(const uint8_t* bytes, size_t count);
    void feed(const std::vector<uint8_t>& bytes) { feed(bytes.data(), bytes.size()); }
    // The capture is over: a lone packet at the end is placed if it can be, and whatever stays
    // unplaced counts as extra.
    void finish();

    uint64_t received() const { return received_; }
    // Stream bytes received in their place for the first time.
    uint64_t matched() const { return matched_; }
    // Stream bytes skipped: never received before the stream went on past them.
    uint64_t lost() const { return lost_; }
    // Received bytes that are not a first copy of a stream byte: repeats, and bytes that fit
    // nowhere (an overflow packet, garbage). Still unplaced bytes are not counted until placed.
    uint64_t extra() const { return extra_; }
    // Bytes held while looking for the stream's place again.
    size_t unplaced() const { return pending_.size(); }
    // Stream bytes accounted for (received or lost): the index the stream has reached.
    uint64_t reached() const { return reached_; }
    bool inStep() const { return inStep_; }

  private:
    void feedByte(uint8_t byte);
    void place(uint8_t byte);
    void takeInStep();
    bool packetAt(size_t at, uint64_t& index) const;
    bool findPlace();
    void resume(size_t at, size_t length, uint64_t start);

    uint8_t port_;
    uint64_t next_ = 0;     // stream index the next byte should have while in step
    uint64_t reached_ = 0;  // one past the highest stream index accounted for
    bool inStep_ = true;
    std::vector<uint8_t> pending_;
    uint64_t received_ = 0;
    uint64_t matched_ = 0;
    uint64_t lost_ = 0;
    uint64_t extra_ = 0;
};

}  // namespace dravik::sim
