#include "dravik/swv/ThreadPriority.h"

#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace dravik::swv {

namespace {

std::string errorText(int error) {
    return std::strerror(error);
}

// The lowest nice value RLIMIT_NICE lets this process set (20 - limit), or 0 when it allows none
// below the default.
int lowestPermittedNice() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NICE, &limit) != 0) {
        return 0;
    }
    if (limit.rlim_cur == RLIM_INFINITY) {
        return -20;
    }
    return std::min<int>(0, 20 - static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 40)));
}

}  // namespace

ThreadPriority raiseThreadPriority() {
    ThreadPriority priority;
    sched_param param{};
    param.sched_priority = kDrainRealTimePriority;
    // On Linux, 0 names the calling thread, not the whole process.
    if (::sched_setscheduler(0, SCHED_FIFO, &param) == 0) {
        priority.kind = ThreadPriority::Kind::RealTime;
        priority.value = kDrainRealTimePriority;
        return priority;
    }
    priority.realTimeRefused = errorText(errno);

    const pid_t thread = ::gettid();
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, static_cast<id_t>(thread));
    if (errno != 0) {
        priority.niceRefused = errorText(errno);
        return priority;
    }
    // The value asked for, then the best the limit allows when that is less.
    const int permitted = std::max(kDrainNice, lowestPermittedNice());
    const int tries[] = {kDrainNice, permitted};
    for (size_t i = 0; i < (permitted == kDrainNice ? 1u : 2u); ++i) {
        const int nice = tries[i];
        if (nice >= current) {
            continue;
        }
        if (::setpriority(PRIO_PROCESS, static_cast<id_t>(thread), nice) == 0) {
            priority.kind = ThreadPriority::Kind::RaisedNice;
            priority.value = nice;
            return priority;
        }
        priority.niceRefused = errorText(errno);
    }
    if (priority.niceRefused.empty()) {
        priority.niceRefused = "nice " + std::to_string(current) + " is the most allowed";
    }
    priority.value = current;
    return priority;
}

std::string describe(const ThreadPriority& priority) {
    const std::string realTime = "SCHED_FIFO refused: " + priority.realTimeRefused;
    switch (priority.kind) {
        case ThreadPriority::Kind::RealTime:
            return "real-time (SCHED_FIFO, priority " + std::to_string(priority.value) + ")";
        case ThreadPriority::Kind::RaisedNice:
            return "nice " + std::to_string(priority.value) + " (" + realTime + ")";
        case ThreadPriority::Kind::Unchanged:
            break;
    }
    return "normal priority, nice " + std::to_string(priority.value) + " (" + realTime +
           "; a raised nice value refused: " + priority.niceRefused + ")";
}

std::string lockCurrentMemory() {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's shadow memory is mapped in terabytes; locking it would exhaust the machine.
    return "not done in a sanitizer build";
#else
    if (::mlockall(MCL_CURRENT) == 0) {
        return {};
    }
    const int error = errno;
    std::string text = "mlockall: " + errorText(error);
    rlimit limit{};
    if ((error == ENOMEM || error == EPERM) && ::getrlimit(RLIMIT_MEMLOCK, &limit) == 0 &&
        limit.rlim_cur != RLIM_INFINITY) {
        text += " (locked memory is limited to " + std::to_string(limit.rlim_cur / 1024) +
                " KiB: ulimit -l)";
    }
    return text;
#endif
}

}  // namespace dravik::swv
