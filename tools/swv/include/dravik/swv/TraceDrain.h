// The draining thread of a capture: the only caller of the library while the capture runs. It
// polls DravikReadSWVData straight into queue chunks, hands every read to its sinks (the
// recordings) before the queue, sleeps as PollInterval says, notes every loss, and at the end
// stops the probe's receiver and fetches what it still holds.
//
// Nothing on its path waits for the decoding thread: it shares no lock with it (counters are
// atomic, the queue is lock-free, a read failure is handed over through a flag), allocates nothing
// while the queue's reserve lasts, and writes nothing to a terminal.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "dravik/swv/CallReport.h"
#include "dravik/swv/ChunkQueue.h"
#include "dravik/swv/Clock.h"
#include "dravik/swv/DrainSink.h"
#include "dravik/swv/PollInterval.h"
#include "dravik/swv/TraceInterface.h"

namespace dravik::swv {

struct DrainCounters {
    uint64_t bytes = 0;  // received from the probe, dropped ones included
    uint64_t polls = 0;
    uint64_t probeDrops = 0;
    uint64_t readFailures = 0;
    uint64_t queueDropBytes = 0;
    // Polls that found the probe's buffer full, or so nearly full that the line may have filled it
    // while the read ran: it may have dropped bytes. The library gives no count of what the probe
    // dropped; a full buffer is the only sign.
    uint64_t bufferFullPolls = 0;
};

class TraceDrain {
  public:
    // The probe's trace buffer; a poll with at least this much room never loses data to 403.
    static constexpr int kReadBufferBytes = 4096;
    // Failed reads in a row after which the probe is taken for gone.
    static constexpr unsigned kMaxConsecutiveFailures = 5;
    // Reads after the receiver stopped, to fetch what it still holds.
    static constexpr unsigned kFinalReads = 4;

    // startUs: the clock value that host times count from.
    TraceDrain(TraceInterface& api, ChunkQueue& queue, Clock& clock, PollInterval interval,
               uint64_t startUs);

    // Before run(): after a poll that found data, spin this long on the steady clock before the
    // rest of the pause is slept (0, the default: sleep it all). For measurements.
    void setSpinAfterDataUs(uint64_t us) { spinAfterDataUs_ = us; }

    // Before run(): a sink that gets every read, on the draining thread.
    void addSink(DrainSink& sink) { sinks_.push_back(&sink); }

    // Runs until requestStop() or until the probe stops answering; then stops the receiver,
    // drains it and closes the queue. Never throws.
    void run() noexcept;
    void requestStop() { stop_.store(true); }

    // From any thread; each counter is exact, together they are a snapshot.
    DrainCounters counters() const;
    // The first failed read, once one happened (reported while the capture goes on); one thread
    // takes it.
    std::optional<CallFailure> takeFirstReadFailure();
    // Set when the capture ended because reads kept failing.
    bool probeLost() const { return probeLost_.load(); }
    // The failed DravikStopSWVRead, if it failed; once run() has returned.
    std::optional<CallFailure> stopFailure() const { return stopFailure_; }

  private:
    // One poll; returns the bytes fetched, or -1 after a failed read.
    long poll();
    void pause(uint64_t us, bool foundData);
    void sleepInterruptibly(uint64_t us);
    void count(std::atomic<uint64_t>& counter, uint64_t n = 1) {
        counter.store(counter.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
    }

    TraceInterface& api_;
    ChunkQueue& queue_;
    Clock& clock_;
    PollInterval interval_;
    uint64_t startUs_;
    uint64_t lastReturnedUs_;  // when the last successful read returned
    std::vector<DrainSink*> sinks_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> probeLost_{false};
    unsigned consecutiveFailures_ = 0;
    uint64_t spinAfterDataUs_ = 0;
    uint8_t scratch_[kReadBufferBytes];  // reads that find the queue full

    // Written by the draining thread only, read by any.
    std::atomic<uint64_t> bytes_{0};
    std::atomic<uint64_t> polls_{0};
    std::atomic<uint64_t> probeDrops_{0};
    std::atomic<uint64_t> readFailures_{0};
    std::atomic<uint64_t> queueDropBytes_{0};
    std::atomic<uint64_t> bufferFullPolls_{0};
    // The first read failure: written once by the draining thread, then published by the flag.
    std::optional<CallFailure> firstReadFailure_;
    bool firstReadFailureKept_ = false;
    std::atomic<bool> firstReadFailureReady_{false};
    std::optional<CallFailure> stopFailure_;
};

}  // namespace dravik::swv
