#pragma once
// The target's trace blocks on the private peripheral bus: the ITM (0xE0000000-0xE0000FFF), the
// DWT (0xE0001000-0xE0001FFF, target/Dwt.h) and the TPIU (0xE0040000-0xE0040FFF) driving the SWO
// pin, with the firmware that writes to the ITM.
//
// Time comes only from the caller: advance() moves the model to a microsecond time, and register
// accesses first bring it to their own time with the activity last reported. Everything inside runs
// on core clock cycles, with times derived from the absolute microsecond count, so any slicing of
// the same time line with the same activity gives identical output.
//
// What the model does at one cycle, in this order: a byte whose frame ends there has left the pin,
// and the next queued byte starts; then the firmware's writes due then; then a synchronisation
// packet due then; then a PC sample; then the firmware's exception entries, exits and returns.
//
// - The firmware runs on awake core time (running and not sleeping) and writes when the ITM, the
//   port (ITM_TER0), TRCENA and an SWO protocol the TPIU supports (TPIU_SPPR) are all enabled;
//   otherwise its writes are ignored, as on silicon. A debugger write to a stimulus port is taken
//   the same way at the time of the access, whether the core runs or not.
// - A write becomes an instrumentation packet in the ITM FIFO. When the packet does not fit, the
//   write is lost and one overflow packet is queued for the run of lost writes. A polling firmware
//   (waitForFifoReady) instead waits until FIFOREADY shows room for a word packet.
// - With TSENA, each instrumentation packet is followed by a local timestamp holding the
//   timestamp clock ticks (core clock / TSPrescale) since the previous one, unless none has passed.
// - With SYNCENA, a synchronisation packet goes out each time the DWT's CYCCNT tap bit
//   (DWT_CTRL.SYNCTAP) toggles, or with ItmSyncTiming::FixedPeriod every syncPeriodCycles of
//   running core time.
// - The DWT's packets reach the ITM FIFO while TRCENA, ITMENA, DWTENA and an SWO protocol are on,
//   and take their share of it like instrumentation packets: one that does not fit is lost
//   behind an overflow packet, one that fits is followed by a local timestamp with TSENA.
//   - PC samples (DWT_CTRL.PCSAMPLENA): when POSTCNT runs out (target/Dwt.h), so every
//     (POSTPRESET + 1) * 64 or 1024 cycles of CYCCNT; the PC from TraceConfig::pcProfile
//     (PcSampler.h), or the core's.
//   - Exception trace (DWT_CTRL.EXCTRCENA): the entries, exits and returns of the exceptions
//     of TraceConfig::exceptions (ExceptionSchedule.h), which the firmware takes on running
//     core time whether or not they are traced.
// - Packets the ITM makes itself (overflow, timestamp, sync) are always queued.
// - The SWO line takes queued bytes one frame at a time at the trace clock (traceClockHz) divided
//   by TPIU_ACPR + 1, with TPIU_ACPR and TPIU_SPPR as they were when the frame started
//   (SwoLine.h), while TRCENA is set and an SWO protocol the TPIU supports is selected; the TPIU
//   formatter is bypassed in the SWO protocols.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "DravikBench/TraceConfig.h"
#include "target/Dwt.h"
#include "target/Peripheral.h"
#include "target/trace/SwoLine.h"

namespace dravik::sim {

namespace trace {
class TraceProgram;
class PcSampler;
class ExceptionSchedule;
}  // namespace trace

// What has left the trace blocks since the unit was made.
struct TraceRecord {
    std::vector<uint8_t> pinBytes;  // every byte that left the SWO pin, in order (recordPinBytes)
    uint64_t bytesSent = 0;         // bytes that left the SWO pin
    // Packets the ITM queued.
    uint64_t instrumentationPackets = 0;  // stimulus writes taken, from the firmware and debugger
    uint64_t debuggerWrites = 0;          // of those, the writes that came over the bus
    uint64_t overflowPackets = 0;
    uint64_t timestampPackets = 0;
    uint64_t syncPackets = 0;
    // Writes not taken.
    uint64_t writesLost = 0;     // the FIFO was full
    uint64_t writesIgnored = 0;  // firmware writes while trace or their port was disabled
    // DWT packets the ITM queued, and those that found the FIFO full.
    uint64_t pcSamplePackets = 0;     // both forms
    uint64_t sleepSamplePackets = 0;  // of those, the sleep form
    uint64_t exceptionPackets = 0;
    uint64_t dwtPacketsLost = 0;
};

class TraceUnit final : public Peripheral {
  public:
    explicit TraceUnit(const TraceConfig& config = {});
    ~TraceUnit() override;
    TraceUnit(const TraceUnit&) = delete;
    TraceUnit& operator=(const TraceUnit&) = delete;

    bool claims(uint32_t address) const override;
    // Unaligned addresses fault; unmodelled registers in the three blocks read 0 and ignore
    // writes.
    bool read32(uint32_t address, uint32_t& value, uint64_t nowUs) override;
    bool write32(uint32_t address, uint32_t value, uint64_t nowUs) override;
    void advance(uint64_t nowUs, const CoreActivity& activity) override;
    void activityChanged(uint64_t nowUs, const CoreActivity& activity) override;
    // Registers to their reset values, queued bytes and a frame on the pin dropped, the firmware
    // started over. The record and bytes already on the pin are kept.
    void powerOnReset(uint64_t nowUs) override;
    // The firmware starts over whenever the core leaves reset.
    void coreResetEnded(uint64_t nowUs) override;

    // The firmware starts over (a system reset); the trace registers keep their values.
    void restartProgram();

    // Bytes that left the pin since the last take, in order.
    std::vector<uint8_t> takeSwo();
    void takeSwo(std::vector<uint8_t>& out);  // appends
    // The same bytes grouped by the line settings they were sent with.
    std::vector<SwoSegment> takeSwoSegments();
    // The line as it sends now (encoding None while nothing can go out).
    SwoLine swoLine() const;
    // The clock the TPIU divides, from nowUs on (0: the core clock); a frame on the pin keeps the
    // timing it started with.
    void setTraceClockHz(uint32_t hz, uint64_t nowUs);
    uint32_t traceClockHz() const { return traceClockHz_; }

    // Where PCSR, and PC samples without a profile, find the PC of a running core (unset: 0).
    void setPcSource(std::function<uint32_t()> pc) { pcSource_ = std::move(pc); }
    const Dwt& dwt() const { return dwt_; }

    const TraceRecord& record() const { return record_; }
    const TraceConfig& config() const { return config_; }
    // Core clock cycles since time 0, and bytes waiting in the ITM FIFO (not yet on the pin).
    uint64_t cycles() const { return cycle_; }
    size_t queuedBytes() const { return fifo_.size(); }

  private:
    enum class WriteResult { Taken, Lost, Ignored };

    void catchUp(uint64_t nowUs);
    void run(uint64_t targetCycle);
    void moveTo(uint64_t cycle);
    bool awake() const { return activity_.running && !activity_.sleeping; }

    uint64_t nextProgramCycle() const;
    uint64_t nextSyncCycle() const;
    uint64_t nextFixedSyncCycle() const;
    uint64_t nextPcSampleCycle() const;
    uint64_t nextExceptionCycle() const;
    void runProgramWrite();
    void runSync();
    void runPcSample();
    void runExceptions();
    void startFrameIfIdle();
    void endFrame();
    uint64_t frameCoreCycles(uint64_t tracePeriods);

    bool portEnabled(uint8_t port) const;
    bool dwtPacketsEnabled() const;
    bool fifoReady() const;
    WriteResult takeWrite(uint8_t port, uint8_t size, uint32_t value);
    // Queues packet_ with its local timestamp if it fits; otherwise the overflow packet.
    bool queuePacket();
    uint64_t timestampPrescale() const;

    bool readItm(uint32_t address, uint32_t& value) const;
    bool readTpiu(uint32_t address, uint32_t& value) const;
    void writeItm(uint32_t address, uint32_t value);
    void writeTpiu(uint32_t address, uint32_t value);
    void resetRegisters();

    TraceConfig config_;
    std::unique_ptr<trace::TraceProgram> program_;
    Dwt dwt_;
    std::unique_ptr<trace::PcSampler> pcSampler_;
    std::unique_ptr<trace::ExceptionSchedule> exceptions_;
    std::function<uint32_t()> pcSource_;

    // Registers.
    uint32_t tcr_ = 0;
    uint32_t ter_ = 0;
    uint32_t tpr_ = 0;
    bool locked_ = true;
    uint32_t cspsr_ = 0;
    uint32_t acpr_ = 0;
    uint32_t sppr_ = 0;
    uint32_t ffcr_ = 0;

    // Time.
    uint64_t lastUs_ = 0;
    CoreActivity activity_;
    uint64_t cycle_ = 0;          // since time 0
    uint64_t runCycles_ = 0;      // while running, sleep included
    uint64_t awakeCycles_ = 0;    // firmware time
    uint64_t syncDoneAt_ = 0;     // runCycles_ of the last synchronisation point handled
    uint64_t syncTapsDone_ = 0;   // DWT sync tap toggles handled
    uint64_t pcSamplesDone_ = 0;  // DWT PC samples handled

    // ITM.
    std::deque<uint8_t> fifo_;
    bool overflowQueued_ = false;  // an overflow packet stands for the lost writes since the last
    uint64_t timestampFrom_ = 0;   // cycle the next local timestamp counts from
    std::vector<uint8_t> packet_;  // the packet being queued

    // SWO line.
    uint32_t traceClockHz_;
    uint64_t frameCarry_ = 0;  // core cycle fraction left by the last frame, / traceClockHz_
    bool frameBusy_ = false;
    uint8_t frameByte_ = 0;
    uint64_t frameEnd_ = 0;
    SwoLine frameLine_;
    std::vector<SwoSegment> untaken_;

    TraceRecord record_;
};

}  // namespace dravik::sim
