#pragma once
// The firmware that writes to the ITM's stimulus ports, as a deterministic list of timed writes.

#include <cstdint>
#include <memory>

#include "DravikBench/TraceConfig.h"

namespace dravik::sim::trace {

struct StimulusWrite {
    uint64_t cycle = 0;  // awake core cycles since the program started
    uint8_t port = 0;
    uint8_t size = 4;  // 1, 2 or 4
    uint32_t value = 0;
};

class TraceProgram {
  public:
    virtual ~TraceProgram() = default;
    // The next write in program order; false once the program has made all its writes.
    virtual bool peek(StimulusWrite& write) const = 0;
    virtual void pop() = 0;
    // Back to the first write (the firmware starts over).
    virtual void restart() = 0;
    // The firmware polls FIFOREADY and waits for room instead of losing the write.
    virtual bool waitsForFifoReady() const = 0;
};

std::unique_ptr<TraceProgram> makeTraceProgram(const TraceProgramConfig& config,
                                               uint32_t coreClockHz);

}  // namespace dravik::sim::trace
