#include "target/trace/TraceProgram.h"

#include <algorithm>
#include <string>
#include <type_traits>
#include <vector>

#include "target/trace/CycleTime.h"
#include "target/trace/ItmPackets.h"

namespace dravik::sim::trace {
namespace {

constexpr uint8_t kPortCount = 32;

class DefaultProgram final : public TraceProgram {
  public:
    DefaultProgram(const DefaultTraceProgram& config, uint32_t coreClockHz)
        : config_(config), schedule_(coreClockHz, config.iterationsPerSecond) {
        fill();
    }

    bool peek(StimulusWrite& write) const override {
        if (next_ >= writes_.size()) {
            return false;
        }
        write = writes_[next_];
        return true;
    }
    void pop() override {
        if (++next_ >= writes_.size()) {
            ++iteration_;
            schedule_.next();
            fill();
        }
    }
    void restart() override {
        iteration_ = 0;
        schedule_.restart();
        fill();
    }
    bool waitsForFifoReady() const override { return config_.waitForFifoReady; }

  private:
    // The writes of one iteration, all due at its start; a polling program spreads them out.
    void fill() {
        writes_.clear();
        next_ = 0;
        if (config_.iterationsPerSecond == 0 || config_.textPort >= kPortCount ||
            config_.counterPort >= kPortCount) {
            return;
        }
        const uint32_t number = static_cast<uint32_t>(iteration_ + 1);
        const std::string text = "line " + std::to_string(number) + "\n";
        size_t at = 0;
        while (at < text.size()) {
            const size_t left = text.size() - at;
            const uint8_t size = left >= 4 ? 4 : left >= 2 ? 2 : 1;
            uint32_t value = 0;
            for (uint8_t i = 0; i < size; ++i) {
                value |= uint32_t{static_cast<uint8_t>(text[at + i])} << (8 * i);
            }
            writes_.push_back({schedule_.cycle(), config_.textPort, size, value});
            at += size;
        }
        writes_.push_back({schedule_.cycle(), config_.counterPort, 4, number});
    }

    DefaultTraceProgram config_;
    RateSchedule schedule_;
    uint64_t iteration_ = 0;
    std::vector<StimulusWrite> writes_;
    size_t next_ = 0;
};

class ScriptedProgram final : public TraceProgram {
  public:
    ScriptedProgram(const ScriptedTraceProgram& config, uint32_t coreClockHz)
        : waitForFifoReady_(config.waitForFifoReady) {
        for (const ScriptedWrite& w : config.writes) {
            if (w.port < kPortCount && isValidWriteSize(w.size)) {
                writes_.push_back({cyclesAt(w.timeUs, coreClockHz), w.port, w.size, w.value});
            }
        }
        std::stable_sort(
            writes_.begin(), writes_.end(),
            [](const StimulusWrite& a, const StimulusWrite& b) { return a.cycle < b.cycle; });
    }

    bool peek(StimulusWrite& write) const override {
        if (next_ >= writes_.size()) {
            return false;
        }
        write = writes_[next_];
        return true;
    }
    void pop() override { ++next_; }
    void restart() override { next_ = 0; }
    bool waitsForFifoReady() const override { return waitForFifoReady_; }

  private:
    bool waitForFifoReady_;
    std::vector<StimulusWrite> writes_;
    size_t next_ = 0;
};

class SequenceProgram final : public TraceProgram {
  public:
    SequenceProgram(const SequenceTraceProgram& config, uint32_t coreClockHz)
        : config_(config), schedule_(coreClockHz, config.writesPerSecond) {}

    bool peek(StimulusWrite& write) const override {
        if (config_.writesPerSecond == 0 || config_.port >= kPortCount ||
            (config_.count != 0 && index_ >= config_.count)) {
            return false;
        }
        write = {schedule_.cycle(), config_.port, 4, static_cast<uint32_t>(index_)};
        return true;
    }
    void pop() override {
        ++index_;
        schedule_.next();
    }
    void restart() override {
        index_ = 0;
        schedule_.restart();
    }
    bool waitsForFifoReady() const override { return config_.waitForFifoReady; }

  private:
    SequenceTraceProgram config_;
    RateSchedule schedule_;
    uint64_t index_ = 0;
};

class IdleProgram final : public TraceProgram {
  public:
    bool peek(StimulusWrite&) const override { return false; }
    void pop() override {}
    void restart() override {}
    bool waitsForFifoReady() const override { return false; }
};

}  // namespace

std::unique_ptr<TraceProgram> makeTraceProgram(const TraceProgramConfig& config,
                                               uint32_t coreClockHz) {
    return std::visit(
        [coreClockHz](const auto& program) -> std::unique_ptr<TraceProgram> {
            using T = std::decay_t<decltype(program)>;
            if constexpr (std::is_same_v<T, DefaultTraceProgram>) {
                return std::make_unique<DefaultProgram>(program, coreClockHz);
            } else if constexpr (std::is_same_v<T, ScriptedTraceProgram>) {
                return std::make_unique<ScriptedProgram>(program, coreClockHz);
            } else if constexpr (std::is_same_v<T, SequenceTraceProgram>) {
                return std::make_unique<SequenceProgram>(program, coreClockHz);
            } else {
                return std::make_unique<IdleProgram>();
            }
        },
        config);
}

}  // namespace dravik::sim::trace
