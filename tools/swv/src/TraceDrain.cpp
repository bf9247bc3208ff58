#include "dravik/swv/TraceDrain.h"

#include <algorithm>

#include "DravikTrace.h"

namespace dravik::swv {

static_assert(TraceDrain::kReadBufferBytes >= DRAVIK_TRACE_BUFFER_SIZE,
              "a poll must have room for everything the probe can hold");

TraceDrain::TraceDrain(TraceInterface& api, ChunkQueue& queue, Clock& clock, PollInterval interval,
                       uint64_t startUs)
    : api_(api), queue_(queue), clock_(clock), interval_(interval), startUs_(startUs) {}

long TraceDrain::poll() {
    std::unique_ptr<Chunk> chunk = queue_.acquire();
    char* buffer =
        chunk ? reinterpret_cast<char*>(chunk->bytes.data()) : reinterpret_cast<char*>(scratch_);
    int length = kReadBufferBytes;
    const int result = api_.readSwvData(buffer, 0, &length);
    const uint64_t timeUs = clock_.nowUs() - startUs_;
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

    std::lock_guard<std::mutex> lock(mutex_);
    ++counters_.polls;
    if (result == DRAVIK_OK) {
        consecutiveFailures_ = 0;
        const size_t got = static_cast<size_t>(std::clamp(length, 0, kReadBufferBytes));
        counters_.bytes += got;
        if (got == 0) {
            queue_.recycle(std::move(chunk));
            return 0;
        }
        if (chunk) {
            chunk->bytes.resize(got);
            chunk->timeUs = timeUs;
            queue_.publish(std::move(chunk));
        } else {
            counters_.queueDropBytes += got;
            Losses losses;
            losses.queueFullBytes = got;
            losses.firstTimeUs = timeUs;
            queue_.noteLosses(losses);
        }
        return static_cast<long>(got);
    }

    queue_.recycle(std::move(chunk));
    Losses losses;
    losses.firstTimeUs = timeUs;
    if (result == DRAVIK_REFUSED) {
        // The library found our buffer too small and discarded what was pending; the probe
        // itself still answers.
        consecutiveFailures_ = 0;
        ++counters_.probeDrops;
        losses.probeDrops = 1;
        queue_.noteLosses(losses);
        return 0;
    }
    ++counters_.readFailures;
    losses.readFailures = 1;
    queue_.noteLosses(losses);
    if (!firstReadFailure_ && !firstReported_) {
        firstReadFailure_ = collectFailure(api_, "DravikReadSWVData", result);
    }
    if (++consecutiveFailures_ >= kMaxConsecutiveFailures) {
        probeLost_.store(true);
    }
    return -1;
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
            const uint64_t pause = got < 0 ? interval_.ceilingUs()
                                           : interval_.next(static_cast<uint64_t>(got), elapsed);
            sleepInterruptibly(pause);
        }
        if (!probeLost_.load()) {
            const int result = api_.stopSwvRead();
            if (result != DRAVIK_OK) {
                std::lock_guard<std::mutex> lock(mutex_);
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
    std::lock_guard<std::mutex> lock(mutex_);
    return counters_;
}

std::optional<CallFailure> TraceDrain::takeFirstReadFailure() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!firstReadFailure_) {
        return std::nullopt;
    }
    firstReported_ = true;
    std::optional<CallFailure> failure = std::move(firstReadFailure_);
    firstReadFailure_.reset();
    return failure;
}

std::optional<CallFailure> TraceDrain::stopFailure() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stopFailure_;
}

}  // namespace dravik::swv
