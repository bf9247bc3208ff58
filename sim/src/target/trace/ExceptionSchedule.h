#pragma once
// The exceptions a simulated firmware takes (ExceptionSource): when each becomes pending, which
// handler runs, and the entries, exits and returns the DWT's exception trace reports, in the
// order a Cortex-M core makes them. Preemption gives "Entered m" on top of the running handler;
// an exit gives "Exited n" and then "Returned" to the preempted handler or to thread mode (0),
// or straight "Entered m" when a pending exception is tail-chained.
//
// Time is running core cycles, handed in by the caller; the schedule starts when the core
// leaves reset.

#include <cstdint>
#include <vector>

#include "DravikBench/DwtTraceConfig.h"
#include "target/trace/ItmPackets.h"

namespace dravik::sim::trace {

struct ExceptionEvent {
    ExceptionFunction function = ExceptionFunction::Entered;
    uint16_t number = 0;  // for a return, the exception returned to; 0 is thread mode
};

class ExceptionSchedule {
  public:
    static constexpr uint64_t kNever = UINT64_MAX;

    // Sources with the same number, or a period or duration of 0, are not simulated (the
    // configuration check refuses them).
    explicit ExceptionSchedule(const std::vector<ExceptionSource>& sources);

    // Back to the core leaving reset: nothing pending or running, first entries ahead.
    void restart();
    // Running cycles until the next event; 0 when takeEvents() has some now, kNever when none
    // will come.
    uint64_t cyclesToNext() const;
    // `cycles` of running time pass, at most cyclesToNext().
    void advance(uint64_t cycles);
    // The events due now, in order (valid until the next call); moves past them.
    const std::vector<ExceptionEvent>& takeEvents();

    // The exception whose handler runs (0: thread mode), and how deep handlers are nested.
    uint16_t running() const;
    size_t depth() const { return active_.size(); }

  private:
    static constexpr unsigned kThreadPriority = 256;  // below every configurable priority

    struct Source {
        ExceptionSource config;
        uint64_t nextDue = kNever;
        bool pending = false;
    };
    struct Frame {
        size_t source;
        uint64_t remaining;  // cycles of its own still to run
    };

    unsigned contextPriority() const;
    // The pending source to enter now, or sources_.size().
    size_t preemptingSource() const;

    std::vector<Source> sources_;
    std::vector<Frame> active_;  // outermost first
    uint64_t now_ = 0;
    std::vector<ExceptionEvent> events_;
};

}  // namespace dravik::sim::trace
