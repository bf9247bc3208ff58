// One simulated probe: its configuration and the state a real probe would keep.
#pragma once

#include "DravikBench/BenchExport.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

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
    // Outcome of the last memory transfer, as the last read/write status query reports it: the
    // status word, and the address of the first unit that faulted (0 when none did).
    uint16_t lastRwStatus = 0x0080;
    uint32_t lastRwFaultAddress = 0;
    // DAP registers written by the host, keyed by port << 16 | register address.
    std::map<uint32_t, uint32_t> dapRegisters;
};

class CortexM;
class SwoReceiver;
class TraceUnit;

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
    // Lets time-driven parts of the probe and its target catch up with the bench clock: the target
    // runs up to nowUs, and what its SWO pin sent meanwhile reaches the SWV receiver as a UART at
    // the receiver's rate reads it (garbage when the rates differ by more than 3 %, nothing while
    // the receiver is stopped).
    void advanceTo(uint64_t nowUs);

    // The SWV receiver, and the bytes the SWO line delivers to it (kept only while it runs).
    SwvReceiver& swv() { return swv_; }
    const SwvReceiver& swv() const { return swv_; }
    void feedSwv(const uint8_t* bytes, size_t count) { swv_.feed(bytes, count); }
    // Starts (or restarts) the receiver as the host's start command does: the line is read afresh
    // at `rateBps` from now on, and whatever the pin sent before is not collected.
    void startSwv(uint32_t rateBps, uint16_t bufferSize);
    // Bytes the line model read as garbage since the receiver was last started.
    uint64_t swvGarbageBytes() const;

    // The target's trace blocks (ITM, TPIU, SWO pin and the firmware writing to them), built from
    // config.target.trace and attached to the target; null without a target. Its record() holds
    // every byte that left the pin, for byte-for-byte comparison with what the host received. The
    // interface is in sim/src/target/trace/TraceUnit.h.
    TraceUnit* traceUnit() { return trace_.get(); }
    // A copy of every byte that left the target's SWO pin so far (empty without a target, or
    // when config.target.trace.recordPinBytes is off).
    std::vector<uint8_t> swoPinBytes() const;

    // The target model behind the probe: null when config.targetAttached is false or
    // config.target was rejected (targetError() says why). Built once, when the probe is added; a
    // power cycle gives it a power-on reset. The model's interface is in sim/src/target/CortexM.h.
    CortexM* target() { return target_.get(); }
    const std::string& targetError() const { return targetError_; }

  private:
    void resetProbeState();

    uint32_t benchId_;
    SwvReceiver swv_;
    std::unique_ptr<SwoReceiver> line_;  // reads the pin for swv_, at swv_'s rate
    std::unique_ptr<TraceUnit> trace_;   // declared before target_: it must outlive the model
    std::unique_ptr<CortexM> target_;
    std::string targetError_;
};

}  // namespace dravik::sim
