#include "target/trace/ExceptionSchedule.h"

#include <algorithm>
#include <set>

namespace dravik::sim::trace {

namespace {

uint64_t saturatingAdd(uint64_t a, uint64_t b) {
    return b > ExceptionSchedule::kNever - a ? ExceptionSchedule::kNever : a + b;
}

}  // namespace

ExceptionSchedule::ExceptionSchedule(const std::vector<ExceptionSource>& sources) {
    std::set<uint16_t> numbers;
    for (const ExceptionSource& source : sources) {
        if (source.periodCycles != 0 && source.durationCycles != 0 &&
            source.number <= kMaxExceptionNumber && numbers.insert(source.number).second) {
            sources_.push_back({source});
        }
    }
    restart();
}

void ExceptionSchedule::restart() {
    now_ = 0;
    active_.clear();
    for (Source& s : sources_) {
        s.nextDue = s.config.firstCycles.value_or(s.config.periodCycles);
        s.pending = false;
    }
}

uint64_t ExceptionSchedule::cyclesToNext() const {
    uint64_t ahead = active_.empty() ? kNever : active_.back().remaining;
    for (const Source& s : sources_) {
        if (s.nextDue != kNever) {
            ahead = std::min(ahead, s.nextDue - now_);
        }
    }
    return ahead;
}

void ExceptionSchedule::advance(uint64_t cycles) {
    now_ += cycles;
    if (!active_.empty()) {
        Frame& top = active_.back();
        top.remaining -= std::min(top.remaining, cycles);
    }
}

unsigned ExceptionSchedule::contextPriority() const {
    return active_.empty() ? kThreadPriority : sources_[active_.back().source].config.priority;
}

uint16_t ExceptionSchedule::running() const {
    return active_.empty() ? 0 : sources_[active_.back().source].config.number;
}

size_t ExceptionSchedule::preemptingSource() const {
    size_t best = sources_.size();
    for (size_t i = 0; i < sources_.size(); ++i) {
        const ExceptionSource& c = sources_[i].config;
        if (!sources_[i].pending || c.priority >= contextPriority()) {
            continue;
        }
        if (best == sources_.size() || c.priority < sources_[best].config.priority ||
            (c.priority == sources_[best].config.priority &&
             c.number < sources_[best].config.number)) {
            best = i;
        }
    }
    return best;
}

const std::vector<ExceptionEvent>& ExceptionSchedule::takeEvents() {
    std::vector<ExceptionEvent>& out = events_;
    out.clear();
    bool exited = false;
    if (!active_.empty() && active_.back().remaining == 0) {
        out.push_back({ExceptionFunction::Exited, sources_[active_.back().source].config.number});
        active_.pop_back();
        exited = true;
    }
    for (Source& s : sources_) {
        if (s.nextDue == now_) {
            s.pending = true;  // already pending: this one is lost
            s.nextDue = saturatingAdd(s.nextDue, s.config.periodCycles);
        }
    }
    // Only the most urgent pending one can go in: it then runs above all the others.
    if (const size_t next = preemptingSource(); next != sources_.size()) {
        sources_[next].pending = false;
        active_.push_back({next, sources_[next].config.durationCycles});
        out.push_back({ExceptionFunction::Entered, sources_[next].config.number});
    } else if (exited) {
        out.push_back({ExceptionFunction::Returned, running()});
    }
    return out;
}

}  // namespace dravik::sim::trace
