// A probe link and a target's cycle counter as the measurement sees them, on a fake host clock:
// every read takes a round trip of a fixed latency and a jitter, and the counter is sampled at a
// chosen point inside it. The counter can stall, jump and start anywhere; reads can be held up
// on the host and can fail.
#pragma once

#include <cstdint>
#include <vector>

#include "dravik/clock/HostClock.h"

namespace dravik::clock::testing {

// Where inside a round trip the probe samples the counter.
enum class SamplePoint {
    Inside,        // after half the latency and a random part of the jitter (as the bench does)
    JitterBefore,  // after half the latency and all of the jitter
    JitterAfter,   // after half the latency, before any jitter
    AtStart,       // as the request leaves the host
    AtEnd,         // as the answer arrives
};

struct Stall {
    uint64_t fromUs = 0;
    uint64_t toUs = 0;
};

struct LinkConfig {
    double clockHz = 72e6;
    uint64_t latencyUs = 125;
    uint64_t jitterUs = 125;
    SamplePoint sample = SamplePoint::Inside;
    uint32_t startValue = 0;
    std::vector<Stall> stalls;  // the counter stands still from..to (host time)
    uint64_t jumpAtUs = 0;      // the firmware writes 0 to the counter then (0: never)
    unsigned holdEvery = 0;     // every n-th read waits 5 ms on the host before it is sent
    unsigned failRead = 0;      // this read (from 1) returns failResult
    int failResult = 19;
    uint64_t seed = 1;
};

class FakeLink final : public HostClock {
  public:
    explicit FakeLink(const LinkConfig& config) : config_(config), state_(config.seed | 1) {}

    uint64_t nowUs() override { return nowUs_; }
    void sleepUs(uint64_t us) override { nowUs_ += us; }

    int read(uint32_t& value) {
        ++reads_;
        if (config_.holdEvery != 0 && reads_ % config_.holdEvery == 0) {
            nowUs_ += 5000;
        }
        const uint64_t jitter = config_.jitterUs ? next() % (config_.jitterUs + 1) : 0;
        const uint64_t part = jitter ? next() % (jitter + 1) : 0;
        const uint64_t total = config_.latencyUs + jitter;
        uint64_t outbound = config_.latencyUs / 2;
        switch (config_.sample) {
            case SamplePoint::Inside:
                outbound += part;
                break;
            case SamplePoint::JitterBefore:
                outbound += jitter;
                break;
            case SamplePoint::JitterAfter:
                break;
            case SamplePoint::AtStart:
                outbound = 0;
                break;
            case SamplePoint::AtEnd:
                outbound = total;
                break;
        }
        value = counterAt(nowUs_ + outbound);
        nowUs_ += total;
        return reads_ == config_.failRead ? config_.failResult : 0;
    }

    unsigned reads() const { return reads_; }

  private:
    uint64_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    // Counts since `fromUs` up to `us`, the stalls left out.
    uint64_t countsBetween(uint64_t fromUs, uint64_t us) const {
        uint64_t runningUs = us > fromUs ? us - fromUs : 0;
        for (const Stall& stall : config_.stalls) {
            const uint64_t from = stall.fromUs > fromUs ? stall.fromUs : fromUs;
            const uint64_t to = stall.toUs < us ? stall.toUs : us;
            runningUs -= to > from ? to - from : 0;
        }
        return static_cast<uint64_t>(double(runningUs) * config_.clockHz / 1e6);
    }
    uint32_t counterAt(uint64_t us) const {
        if (config_.jumpAtUs != 0 && us >= config_.jumpAtUs) {
            return static_cast<uint32_t>(countsBetween(config_.jumpAtUs, us));
        }
        return static_cast<uint32_t>(config_.startValue + countsBetween(0, us));
    }

    LinkConfig config_;
    uint64_t state_;
    uint64_t nowUs_ = 0;
    unsigned reads_ = 0;
};

}  // namespace dravik::clock::testing
