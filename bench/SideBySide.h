// Two variants of the same work timed in alternating blocks, so that both see the same machine
// load. Each block's time per operation is kept; medians keep a block slowed down by another
// process on the shared cores out of the figure.
#pragma once

#include <cstddef>
#include <vector>

namespace dravik::bench {

enum class Clock {
    Wall,       // steady clock: includes any waiting the work does
    ThreadCpu,  // this thread's CPU time: blind to being descheduled
};

// Nanoseconds on `clock` from an arbitrary origin.
double NowNs(Clock clock);

double Median(std::vector<double> values);

class SideBySide {
  public:
    explicit SideBySide(Clock clock = Clock::Wall) : clock_(clock) {}

    // Times `ops` runs of `a` and `ops` runs of `b`; the one that goes first swaps every round.
    template <typename A, typename B>
    void round(size_t ops, A&& a, B&& b) {
        if (rounds_ % 2 == 0) {
            a_.push_back(time(ops, a));
            b_.push_back(time(ops, b));
        } else {
            b_.push_back(time(ops, b));
            a_.push_back(time(ops, a));
        }
        ++rounds_;
    }

    size_t rounds() const { return rounds_; }
    // Median nanoseconds per operation.
    double nsA() const { return Median(a_); }
    double nsB() const { return Median(b_); }

  private:
    template <typename F>
    double time(size_t ops, F& work) {
        const double start = NowNs(clock_);
        for (size_t i = 0; i < ops; ++i) {
            work();
        }
        return (NowNs(clock_) - start) / static_cast<double>(ops);
    }

    Clock clock_;
    size_t rounds_ = 0;
    std::vector<double> a_;
    std::vector<double> b_;
};

}  // namespace dravik::bench
