// Another process that keeps every core busy while it runs: one thread per core spinning at normal
// priority, as a build or a browser does on a developer's machine. Benchmarks that must hold their
// goal on a busy machine run under it; its CPU time is not the benchmark process's.
#pragma once

#include <sys/types.h>

namespace dravik::bench {

class BackgroundLoad {
  public:
    BackgroundLoad() = default;
    BackgroundLoad(const BackgroundLoad&) = delete;
    BackgroundLoad& operator=(const BackgroundLoad&) = delete;
    ~BackgroundLoad() { stop(); }

    // Starts the load unless it runs; false when the process could not be started.
    bool start();
    void stop();
    bool running() const { return pid_ > 0; }
    // Spinning threads (one per core).
    unsigned threads() const { return threads_; }

  private:
    pid_t pid_ = -1;
    unsigned threads_ = 0;
};

}  // namespace dravik::bench
