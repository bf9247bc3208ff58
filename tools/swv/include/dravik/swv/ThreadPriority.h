// The draining thread's claim on a core. On a busy machine a thread of normal priority can wait
// several milliseconds for a core while the probe's buffer fills in under two at 24 Mbit/s, so
// the draining thread asks for real-time scheduling (SCHED_FIFO at the lowest priority: above
// every normal thread, below every real-time one such as audio), and failing that for a raised
// nice value. Unprivileged, both are usually refused: it then runs as it was, and says so with -v.
#pragma once

#include <string>

namespace dravik::swv {

struct ThreadPriority {
    enum class Kind { RealTime, RaisedNice, Unchanged };
    Kind kind = Kind::Unchanged;
    int value = 0;                // SCHED_FIFO priority, or the nice value
    std::string realTimeRefused;  // why SCHED_FIFO was refused (strerror), when it was
    std::string niceRefused;      // why no nice value was raised, when it was not
};

// The SCHED_FIFO priority asked for, and the nice value (or the best RLIMIT_NICE allows).
constexpr int kDrainRealTimePriority = 1;
constexpr int kDrainNice = -10;

// For the calling thread only.
ThreadPriority raiseThreadPriority();

// "real-time (SCHED_FIFO, priority 1)", "nice -10 (SCHED_FIFO refused: ...)", ...: for -v.
std::string describe(const ThreadPriority& priority);

// Locks every page the process has mapped now (mlockall MCL_CURRENT), so that the draining
// thread does not wait for a page to come back from swap. Empty, or why it failed.
std::string lockCurrentMemory();

}  // namespace dravik::swv
