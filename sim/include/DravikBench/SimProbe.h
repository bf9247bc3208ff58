// One simulated probe: its configuration and the state a real probe would keep.
#pragma once

#include "DravikBench/BenchExport.h"

#include <cstddef>
#include <cstdint>
#include <memory>

#include "DravikBench/ProbeConfig.h"
#include "DravikBench/SwvReceiver.h"

namespace dravik::sim {

struct ProbeState {
    uint8_t mode = kModeDfu;
    uint8_t subMode = 0;
    unsigned openHandles = 0;  // handles and TCP connections currently open on it
    bool heldExclusive = false;
    unsigned ledBlinks = 0;
    uint8_t debugProtocol = 0;     // 0xA3 SWD or 0xA4 JTAG once debug mode was entered
    uint32_t openAccessPorts = 0;  // bit n: access port n opened
    // Interface clocks as last programmed.
    uint16_t swdDivider = 1;
    uint16_t jtagDivider = 32;
    uint32_t appliedKHz[2] = {1800, 1125};  // [0] SWD, [1] JTAG
    uint8_t probeFreqDivider = 1;
    uint8_t mcoSelection = 0;
};

class DRAVIK_BENCH_API SimProbe {
  public:
    explicit SimProbe(const ProbeConfig& config, uint32_t benchId);
    ~SimProbe();
    SimProbe(const SimProbe&) = delete;
    SimProbe& operator=(const SimProbe&) = delete;

    ProbeConfig config;
    ProbeState state;

    uint32_t benchId() const { return benchId_; }
    // Back to power-up state, as after unplugging and plugging it in again.
    void powerCycle();
    // Lets time-driven parts of the probe and its target catch up with the bench clock.
    void advanceTo(uint64_t nowUs);

    // The SWV receiver, and the bytes the SWO line delivers to it (kept only while it runs).
    SwvReceiver& swv() { return swv_; }
    const SwvReceiver& swv() const { return swv_; }
    void feedSwv(const uint8_t* bytes, size_t count) { swv_.feed(bytes, count); }

  private:
    uint32_t benchId_;
    SwvReceiver swv_;
};

}  // namespace dravik::sim
