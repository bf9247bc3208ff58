#include "BackgroundLoad.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace dravik::bench {

namespace {

[[noreturn]] void Spin() {
    for (;;) {
        asm volatile("" ::: "memory");
    }
}

}  // namespace

bool BackgroundLoad::start() {
    if (running()) {
        return true;
    }
    const unsigned threads = std::max(2u, std::thread::hardware_concurrency());
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        return false;
    }
    if (pid == 0) {
        // Dies with the benchmark, even when that is killed.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(0);
        }
        std::vector<std::thread> spinners;
        for (unsigned i = 1; i < threads; ++i) {
            spinners.emplace_back(Spin);
        }
        Spin();
    }
    pid_ = pid;
    threads_ = threads;
    return true;
}

void BackgroundLoad::stop() {
    if (!running()) {
        return;
    }
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    threads_ = 0;
}

}  // namespace dravik::bench
