// The probe's SWV receiver: a byte buffer between the SWO line and the host's trace reads.
//
// The host starts it at a rate with a buffer of N bytes and stops it; while it runs, every byte the
// line delivers is kept in arrival order until the buffer is full, after which new bytes are lost
// (the oldest are kept, as a firmware ring buffer that cannot overwrite unread data does). While it
// is stopped nothing is collected, but bytes already kept stay readable. Starting again empties the
// buffer. The rate is only recorded here: what reaches the receiver at that rate is the line
// model's business (SwoReceiver), and this buffer keeps whatever that model hands it.
#pragma once

#include "DravikBench/BenchExport.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dravik::sim {

struct SwvCounters {
    uint64_t received = 0;    // bytes that reached the running receiver (kept or lost)
    uint64_t delivered = 0;   // bytes handed to the host by trace reads
    uint64_t lost = 0;        // bytes dropped because the buffer was full
    uint64_t discarded = 0;   // bytes still pending when a restart emptied the buffer
    uint64_t shortReads = 0;  // trace reads that asked for more bytes than were pending
};

class DRAVIK_BENCH_API SwvReceiver {
  public:
    // Empties the buffer, makes it `bufferSize` bytes and starts collecting; `rateBps` is kept for
    // the line model. Starting a running receiver restarts it.
    void start(uint32_t rateBps, uint16_t bufferSize);
    // Stops collecting; pending bytes stay readable.
    void stop();
    // Back to power-up: stopped, no buffer, counters cleared.
    void reset();

    // Keeps the bytes that fit while running; the rest are lost. Ignored while stopped.
    void feed(const uint8_t* bytes, size_t count);
    // Moves the oldest min(count, pending()) bytes to `out` and returns how many were moved; `out`
    // beyond them is left untouched.
    size_t take(uint8_t* out, size_t count);

    bool running() const { return running_; }
    uint32_t rateBps() const { return rateBps_; }  // as last started; 0 before any start
    size_t capacity() const { return buffer_.size(); }
    size_t pending() const { return size_; }
    const SwvCounters& counters() const { return counters_; }

  private:
    std::vector<uint8_t> buffer_;  // ring of capacity() bytes
    size_t head_ = 0;              // oldest pending byte
    size_t size_ = 0;
    bool running_ = false;
    uint32_t rateBps_ = 0;
    SwvCounters counters_;
};

}  // namespace dravik::sim
