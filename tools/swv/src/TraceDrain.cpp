#include "dravik/swv/TraceDrain.h"

#include <algorithm>
#include <chrono>

#include "DravikTrace.h"

namespace dravik::swv {

static_assert(TraceDrain::kReadBufferBytes >= DRAVIK_TRACE_BUFFER_SIZE,
              "a poll must have room for everything the probe can hold");

TraceDrain::TraceDrain(TraceInterface& api, ChunkQueue& queue, Clock& clock, PollInterval interval,
                       uint64_t startUs)
    : api_(api),
      queue_(queue),
      clock_(clock),
      interval_(interval),
      startUs_(startUs),
      lastReturnedUs_(startUs) {}

long TraceDrain::poll() {
    std::unique_ptr<Chunk> chunk = queue_.acquire();
    char* buffer =
        chunk ? reinterpret_cast<char*>(chunk->bytes.data()) : reinterpret_cast<char*>(scratch_);
    int length = kReadBufferBytes;
    const uint64_t calledUs = clock_.nowUs();
    const int result = api_.readSwvData(buffer, 0, &length);
    const uint64_t returnedUs = clock_.nowUs();
    const uint64_t timeUs = returnedUs - startUs_;
    // The sinks first: they must have every byte, whether or not the queue has room.
    for (DrainSink* sink : sinks_) {
        if (result == DRAVIK_OK && length > 0) {
            sink->data(timeUs, reinterpret_cast<const uint8_t*>(buffer),
                       static_cast<size_t>(std::min(length, kReadBufferBytes)));
        } else if (result != DRAVIK_OK) {
            sink->gap(timeUs,
                      result == DRAVIK_REFUSED ? GapCause::ProbeDropped : GapCause::ReadFailure);
        }
    }

    count(polls_);
    if (result == DRAVIK_OK) {
        consecutiveFailures_ = 0;
        const size_t got = static_cast<size_t>(std::clamp(length, 0, kReadBufferBytes));
        count(bytes_, got);
        // The probe may have dropped bytes when it held all it can, or when what came in between
        // the library's count and its read (about half the call: from the middle of the first
        // round trip to the middle of the second) would have filled it on top of the count. What
        // came in is reckoned at the rate this poll's bytes came at, the line's at the most.
        const double sinceLastUs =
            static_cast<double>(std::max<uint64_t>(1, returnedUs - lastReturnedUs_));
        const double rate =
            std::min(interval_.lineBytesPerSecond(), static_cast<double>(got) * 1e6 / sinceLastUs);
        const double arrived = rate * static_cast<double>(returnedUs - calledUs) / 2 / 1e6;
        lastReturnedUs_ = returnedUs;
        if (static_cast<double>(got) + arrived >= DRAVIK_TRACE_BUFFER_SIZE) {
            count(bufferFullPolls_);
        }
        if (got == 0) {
            queue_.putBack(std::move(chunk));
            return 0;
        }
        if (chunk) {
            chunk->bytes.resize(got);
            chunk->timeUs = timeUs;
            queue_.publish(std::move(chunk));
        } else {
            count(queueDropBytes_, got);
            Losses losses;
            losses.queueFullBytes = got;
            losses.firstTimeUs = timeUs;
            queue_.noteLosses(losses);
        }
        return static_cast<long>(got);
    }

    queue_.putBack(std::move(chunk));
    Losses losses;
    losses.firstTimeUs = timeUs;
    if (result == DRAVIK_REFUSED) {
        // The library found our buffer too small and discarded what was pending; the probe
        // itself still answers.
        consecutiveFailures_ = 0;
        count(probeDrops_);
        losses.probeDrops = 1;
        queue_.noteLosses(losses);
        return 0;
    }
    count(readFailures_);
    losses.readFailures = 1;
    queue_.noteLosses(losses);
    if (!firstReadFailureKept_) {
        firstReadFailureKept_ = true;
        firstReadFailure_ = collectFailure(api_, "DravikReadSWVData", result);
        firstReadFailureReady_.store(true, std::memory_order_release);
    }
    if (++consecutiveFailures_ >= kMaxConsecutiveFailures) {
        probeLost_.store(true);
    }
    return -1;
}

void TraceDrain::pause(uint64_t us, bool foundData) {
    if (foundData && spinAfterDataUs_ > 0 && us > 0) {
        // On the steady clock, not clock_: a test's clock moves only when slept on.
        using namespace std::chrono;
        const uint64_t spinUs = std::min(us, spinAfterDataUs_);
        const steady_clock::time_point end = steady_clock::now() + microseconds(spinUs);
        while (steady_clock::now() < end && !stop_.load(std::memory_order_relaxed)) {
        }
        us -= spinUs;
    }
    sleepInterruptibly(us);
}

void TraceDrain::sleepInterruptibly(uint64_t us) {
    // In slices, so a stop request is seen soon even with a real clock.
    constexpr uint64_t kSliceUs = 5000;
    while (us > 0 && !stop_.load()) {
        const uint64_t slice = std::min(us, kSliceUs);
        clock_.sleepUs(slice);
        us -= slice;
    }
}

void TraceDrain::run() noexcept {
    try {
        uint64_t lastPollUs = clock_.nowUs();
        while (!stop_.load() && !probeLost_.load()) {
            const long got = poll();
            const uint64_t now = clock_.nowUs();
            const uint64_t elapsed = now - lastPollUs;
            lastPollUs = now;
            pause(got < 0 ? interval_.ceilingUs()
                          : interval_.next(static_cast<uint64_t>(got), elapsed),
                  got > 0);
        }
        if (!probeLost_.load()) {
            const int result = api_.stopSwvRead();
            if (result != DRAVIK_OK) {
                stopFailure_ = collectFailure(api_, "DravikStopSWVRead", result);
            }
            // What the receiver kept until it stopped is still readable.
            for (unsigned i = 0; i < kFinalReads; ++i) {
                if (poll() <= 0) {
                    break;
                }
            }
        }
    } catch (...) {
        // Out of memory for a chunk: end the capture rather than the process.
        probeLost_.store(true);
    }
    queue_.close();
}

DrainCounters TraceDrain::counters() const {
    DrainCounters counters;
    counters.bytes = bytes_.load(std::memory_order_relaxed);
    counters.polls = polls_.load(std::memory_order_relaxed);
    counters.probeDrops = probeDrops_.load(std::memory_order_relaxed);
    counters.readFailures = readFailures_.load(std::memory_order_relaxed);
    counters.queueDropBytes = queueDropBytes_.load(std::memory_order_relaxed);
    counters.bufferFullPolls = bufferFullPolls_.load(std::memory_order_relaxed);
    return counters;
}

std::optional<CallFailure> TraceDrain::takeFirstReadFailure() {
    if (!firstReadFailureReady_.exchange(false, std::memory_order_acquire)) {
        return std::nullopt;
    }
    return std::move(firstReadFailure_);
}

}  // namespace dravik::swv
