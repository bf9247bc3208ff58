#include <gtest/gtest.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <thread>

#include "dravik/swv/ThreadPriority.h"

namespace dravik::swv {
namespace {

TEST(ThreadPriority, DescribesWhatTheThreadGot) {
    ThreadPriority priority;
    priority.kind = ThreadPriority::Kind::RealTime;
    priority.value = 1;
    EXPECT_EQ(describe(priority), "real-time (SCHED_FIFO, priority 1)");
    priority.kind = ThreadPriority::Kind::RaisedNice;
    priority.value = -10;
    priority.realTimeRefused = "Operation not permitted";
    EXPECT_EQ(describe(priority), "nice -10 (SCHED_FIFO refused: Operation not permitted)");
    priority.kind = ThreadPriority::Kind::Unchanged;
    priority.value = 0;
    priority.niceRefused = "Permission denied";
    EXPECT_EQ(describe(priority),
              "normal priority, nice 0 (SCHED_FIFO refused: Operation not permitted; a raised "
              "nice value refused: Permission denied)");
}

// Whatever the privileges: what it reports is what the thread has, and only that thread.
TEST(ThreadPriority, ReportsWhatTheCallingThreadNowHas) {
    const int policyBefore = ::sched_getscheduler(0);
    errno = 0;
    const int niceBefore = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    ThreadPriority got;
    int policy = -1;
    int nice = 0;
    std::thread([&] {
        got = raiseThreadPriority();
        policy = ::sched_getscheduler(0);
        nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
    }).join();
    switch (got.kind) {
        case ThreadPriority::Kind::RealTime:
            EXPECT_EQ(policy, SCHED_FIFO);
            EXPECT_EQ(got.value, kDrainRealTimePriority);
            EXPECT_TRUE(got.realTimeRefused.empty());
            break;
        case ThreadPriority::Kind::RaisedNice:
            EXPECT_EQ(policy, SCHED_OTHER);
            EXPECT_EQ(nice, got.value);
            EXPECT_LT(got.value, niceBefore);
            EXPECT_FALSE(got.realTimeRefused.empty());
            break;
        case ThreadPriority::Kind::Unchanged:
            EXPECT_EQ(policy, SCHED_OTHER);
            EXPECT_EQ(nice, niceBefore);
            EXPECT_FALSE(got.realTimeRefused.empty());
            EXPECT_FALSE(got.niceRefused.empty());
            break;
    }
    EXPECT_EQ(::sched_getscheduler(0), policyBefore);
    EXPECT_EQ(::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())), niceBefore);
}

}  // namespace
}  // namespace dravik::swv
